#pragma once

#include "platform/buffered_log.h"
#include "platform/win32/unique_handle.h"

namespace kqget {

// The run log on Windows, written through a buffer like its POSIX sibling. The
// text is UTF-8, which the program's manifest makes the process code page, so
// no card name or path is lost; the run itself ends lines in CR LF.
class Win32LogFile final : public BufferedLog
{
public:
    // Creates or empties `path`. A symbolic link, junction or any other
    // reparse point at `path` is refused and left untouched, as is anything
    // that is not a plain file on disk.
    explicit Win32LogFile(std::string_view path);
    ~Win32LogFile() override;

private:
    void writeOut(std::string_view bytes) override;
    void closeHandle() override;
    void dropHandle() noexcept override { m_file.reset(); }

    UniqueFileHandle m_file;
};

} // namespace kqget

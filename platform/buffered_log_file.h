#pragma once

#include "platform/unique_fd.h"
#include "update/file_system_port.h"

#include <string>

namespace kqget {

// The run log on disk, written through a buffer so that a run over a large
// library costs one system call per few thousand lines.
class BufferedLogFile final : public LogFile
{
public:
    // Creates or empties `path`, readable and writable by its owner only.
    explicit BufferedLogFile(std::string_view path);
    ~BufferedLogFile() override;

    void write(std::string_view text) override;
    void flush() override;
    void close() override;

private:

    std::string m_path;
    UniqueFd m_fd;
    std::string m_buffer;
};

} // namespace kqget

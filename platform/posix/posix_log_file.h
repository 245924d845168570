#pragma once

#include "platform/buffered_log.h"
#include "platform/posix/unique_fd.h"

namespace kqget {

// The run log on a POSIX system.
class PosixLogFile final : public BufferedLog
{
public:
    // Creates or empties `path`, readable and writable by its owner only. A
    // symbolic link or anything but a plain file at `path` is refused, untouched.
    explicit PosixLogFile(std::string_view path);
    ~PosixLogFile() override;

private:
    void writeOut(std::string_view bytes) override;
    void closeHandle() override;
    void dropHandle() noexcept override { m_fd.reset(); }

    UniqueFd m_fd;
};

} // namespace kqget

#pragma once

#include "update/file_system_port.h"

#include <memory>
#include <string>
#include <string_view>

namespace kqget {

// The run log on this system, in its room: creates or empties `path`, which
// only its owner may read where the system has such modes. A link or
// anything but a plain file at `path` is refused and left untouched.
std::unique_ptr<LogFile> openRunLog(std::string_view path);

// What the run log does alike on every system: lines gather in memory and
// reach the file a few thousand at a time, or whenever the run flushes, so a
// run over a large library costs one system call per many lines. A system's
// log file supplies only the writing and closing of its handle.
class BufferedLog : public LogFile
{
public:
    void write(std::string_view text) final;
    void flush() final;
    void close() final;

protected:
    explicit BufferedLog(std::string_view path);
    // A subclass calls closeQuietly() from its own destructor: its handle is
    // gone by the time this one runs.
    ~BufferedLog() override = default;

    const std::string& path() const noexcept { return m_path; }
    // Ends the log from a destructor. A failure here only happens while
    // another error unwinds, and that one is what the user is told.
    void closeQuietly() noexcept;

    [[noreturn]] void fail(std::string_view what, std::string_view reason) const;
    // The log could not be made in its folder. Started from the Start menu or
    // a shortcut, that folder is often one the user may not write to (the
    // installation folder), so the message names it and says what to do.
    [[noreturn]] void failToCreate(std::string_view reason) const;

    // Writes all of `bytes`, or throws RunError through fail().
    virtual void writeOut(std::string_view bytes) = 0;
    // Closes the handle; throws RunError through fail() when the system
    // reports an error, with the handle released either way. Not called
    // after a failed write: the subclass's handle goes with it.
    virtual void closeHandle() = 0;

private:
    std::string m_path;
    std::string m_buffer;
    bool m_open = true; // a subclass's constructor either opens its handle or throws
};

} // namespace kqget

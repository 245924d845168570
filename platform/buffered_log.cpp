#include "platform/buffered_log.h"

#include "platform/run_lock.h"
#include "update/run_error.h"

namespace kqget {

namespace {

constexpr std::size_t kBufferSize = 64 * 1024;

} // namespace

BufferedLog::BufferedLog(std::string_view path) : m_path(path)
{
    m_buffer.reserve(kBufferSize);
}

void BufferedLog::write(std::string_view text)
{
    if (!m_open) {
        throw RunError(ErrorNumber::LogFile, "run log '" + m_path + "' is already closed");
    }
    if (m_buffer.size() + text.size() > kBufferSize) {
        flush();
    }
    m_buffer.append(text);
}

void BufferedLog::flush()
{
    if (m_buffer.empty()) {
        return;
    }
    try {
        writeOut(m_buffer);
    } catch (...) {
        // Dropped even when the write fails: the run ends then, and a later
        // close must not write the same lines again.
        m_buffer.clear();
        throw;
    }
    m_buffer.clear();
}

void BufferedLog::close()
{
    if (!m_open) {
        return;
    }
    m_open = false;
    flush();
    closeHandle();
}

void BufferedLog::closeQuietly() noexcept
{
    try {
        close();
    } catch (const RunError&) {
        // Only reached while another error unwinds; that one is reported.
    }
}

void BufferedLog::fail(std::string_view what, std::string_view reason) const
{
    throw RunError(ErrorNumber::LogFile,
                   std::string(what) + " run log '" + m_path + "': " + std::string(reason));
}

void BufferedLog::failToCreate(std::string_view reason) const
{
    throw RunError(ErrorNumber::LogFile, "cannot create run log '" + m_path + "' in the folder '" +
                                             folderOfLog(m_path) + "': " + std::string(reason) +
                                             "; start kqget from a folder you can write to");
}

} // namespace kqget

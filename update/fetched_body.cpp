#include "update/fetched_body.h"

#include <utility>

namespace kqget {

FetchedBody::FetchedBody(FileSystemPort& fileSystem, std::string path)
    : m_fileSystem(fileSystem), m_path(std::move(path))
{}

FetchedBody::~FetchedBody() = default;

void FetchedBody::failWithCaught() noexcept
{
    m_file.reset();
    m_keeping = false;
    try {
        const CaughtFailure caught = caughtFailure();
        m_failure.emplace(caught.number, std::string(caught.description));
    } catch (...) {
        // No memory to say why: the fetch fails as it stops, which the run reports.
        m_failure.reset();
        m_discarded = true;
    }
}

bool FetchedBody::begin(long httpStatus, std::optional<std::uint64_t>) noexcept
{
    const std::lock_guard lock(m_mutex);
    if (m_discarded) {
        return false;
    }
    m_file.reset();
    m_failure.reset();
    m_written = 0;
    m_keeping = isSuccessStatus(httpStatus);
    if (!m_keeping) {
        return true; // an error page is read and dropped, not kept
    }
    try {
        m_file = m_fileSystem.stageFile(m_path);
    } catch (...) {
        failWithCaught();
    }
    return m_file != nullptr;
}

bool FetchedBody::write(std::string_view bytes) noexcept
{
    const std::lock_guard lock(m_mutex);
    if (m_discarded || m_failure) {
        return false;
    }
    if (!m_keeping) {
        return true;
    }
    try {
        m_file->write(bytes);
        m_written += bytes.size();
    } catch (...) {
        failWithCaught();
    }
    return m_file != nullptr;
}

void FetchedBody::finish() noexcept
{
    const std::lock_guard lock(m_mutex);
    if (!m_file) {
        return;
    }
    try {
        m_file->close();
    } catch (...) {
        failWithCaught();
    }
}

std::uint64_t FetchedBody::store()
{
    const std::lock_guard lock(m_mutex);
    if (m_failure) {
        throw *m_failure;
    }
    if (m_discarded) {
        throw RunError(ErrorNumber::OutOfMemory, "out of memory for the body of '" + m_path + "'");
    }
    if (!m_file) {
        // A transfer that reported a whole reply has begun it; this is for
        // a sink it never began, whose body is then empty.
        m_file = m_fileSystem.stageFile(m_path);
    }
    const std::unique_ptr<StagedFile> file = std::move(m_file);
    file->commit();
    return m_written;
}

void FetchedBody::discard() noexcept
{
    const std::lock_guard lock(m_mutex);
    m_discarded = true;
    m_file.reset();
}

} // namespace kqget

#include "update/fetched_body.h"

#include <utility>

namespace kqget {

FetchedBody::FetchedBody(FileSystemPort& fileSystem, std::string path, CardFileKind kind,
                         const ContentCheckPort* check, std::shared_ptr<StagingRoom> room)
    : m_fileSystem(fileSystem), m_path(std::move(path)), m_room(std::move(room)), m_kind(kind),
      m_check(check)
{}

FetchedBody::~FetchedBody()
{
    releaseRoom();
}

void FetchedBody::releaseRoom() noexcept
{
    if (m_room) {
        m_room->bytes -= std::exchange(m_bytesAhead, 0);
    }
}

void FetchedBody::letGo(bool starved) noexcept
{
    m_file.reset();
    m_keeping = false;
    m_letGo = true;
    m_starved = m_starved || starved;
    releaseRoom();
}

void FetchedBody::failWithCaught() noexcept
{
    if (m_room) {
        letGo(true);
        return;
    }
    m_file.reset();
    m_keeping = false;
    try {
        try {
            throw;
        } catch (const RunError& error) {
            m_failure.emplace(error); // with its reach: one card file's, or the run's
        } catch (...) {
            const CaughtFailure caught = caughtFailure();
            m_failure.emplace(caught.number, std::string(caught.description));
        }
    } catch (...) {
        // No memory to say why: the fetch fails as it stops, which the run reports.
        m_failure.reset();
        m_discarded = true;
    }
}

bool FetchedBody::begin(long httpStatus, std::optional<std::uint64_t> length) noexcept
{
    const std::lock_guard lock(m_mutex);
    if (m_discarded || m_letGo) {
        return false;
    }
    m_file.reset();
    m_failure.reset();
    releaseRoom();
    m_start = {};
    m_keeping = isContentStatus(httpStatus);
    m_written = 0;
    if (!m_keeping) {
        return true; // an error page is read and dropped, not kept
    }
    if (m_room && length && *length > m_room->limit) {
        letGo(false);
        return false;
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
    if (m_discarded || m_failure || m_letGo) {
        return false;
    }
    if (!m_keeping) {
        return true;
    }
    if (m_room) {
        // Taken before the write, so that bodies written at once never
        // overshoot the room together.
        if (m_room->bytes.fetch_add(bytes.size()) + bytes.size() > m_room->limit) {
            m_room->bytes -= bytes.size();
            letGo(false);
            return false;
        }
        m_bytesAhead += bytes.size();
    }
    try {
        m_start.feed(bytes);
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
        if (m_check != nullptr && m_start.refusal(m_kind).empty()) {
            m_damaged = m_check->fileDamage(m_file->temporaryPath(), m_kind).has_value();
        }
    } catch (...) {
        failWithCaught();
    }
}

bool FetchedBody::takeTurn() noexcept
{
    const std::lock_guard lock(m_mutex);
    if (m_letGo || (m_file && !m_file->intact())) {
        m_discarded = true;
        m_file.reset();
        releaseRoom();
        return false;
    }
    releaseRoom();
    m_room.reset();
    return true;
}

void FetchedBody::yieldAhead() noexcept
{
    const std::lock_guard lock(m_mutex);
    if (m_room && !m_discarded) {
        letGo(false);
    }
}

std::string FetchedBody::refusal() const
{
    const std::string_view start = m_start.refusal(m_kind);
    if (!start.empty()) {
        return std::string(start);
    }
    if (!m_damaged) {
        return {};
    }
    return m_kind == CardFileKind::Illustration ? "damaged PNG image" : "XML not well-formed";
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
    releaseRoom();
}

} // namespace kqget

#include "update/fetched_body.h"

#include <utility>

namespace kqget {

FetchedBody::FetchedBody(FileSystemPort& fileSystem, std::string path, CardFileKind kind,
                         std::shared_ptr<BodyBudget> budget)
    : m_fileSystem(fileSystem), m_path(std::move(path)), m_kind(kind), m_budget(std::move(budget))
{}

FetchedBody::~FetchedBody()
{
    release();
}

void FetchedBody::release() noexcept
{
    m_pieces.clear();
    m_pieces.shrink_to_fit();
    m_held = 0;
    m_budget->used -= std::exchange(m_charged, 0);
}

void FetchedBody::failWithCaught() noexcept
{
    m_file.reset();
    release();
    m_keeping = false;
    if (!m_atTurn) {
        m_letGo = true; // fetched again at its turn, where a failure is the card's own
        return;
    }
    try {
        throw;
    } catch (const RunError& error) {
        try {
            m_failure.emplace(error); // with its reach: one card file's, or the run's
        } catch (...) {
            m_discarded = true;
        }
    } catch (...) {
        m_discarded = true; // out of memory: store() says so
    }
}

template <typename Keep> bool FetchedBody::keep(Keep keep) noexcept
{
    if (m_discarded || m_letGo || m_failure) {
        return false;
    }
    try {
        keep();
    } catch (...) {
        failWithCaught();
    }
    return !m_discarded && !m_letGo && !m_failure;
}

void FetchedBody::overBudget(std::string_view bytes)
{
    if (m_atTurn) {
        toFile(bytes);
        return;
    }
    release();
    m_letGo = true;
}

bool FetchedBody::begin(long httpStatus, std::optional<std::uint64_t> length) noexcept
{
    const std::lock_guard lock(m_mutex);
    return keep([&] {
        m_file.reset();
        m_failure.reset();
        release();
        m_start = {};
        m_written = 0;
        m_keeping = isContentStatus(httpStatus);
        // An error page is read and dropped; a runaway body ends at the cap. An
        // announced one is held in one piece, never moved as it grows.
        if (m_keeping && length && *length <= kBodySizeCapBytes) {
            if (!m_budget->take(*length)) {
                overBudget({});
                return;
            }
            m_charged = *length;
            m_pieces.emplace_back().reserve(*length);
        }
    });
}

bool FetchedBody::write(std::string_view bytes) noexcept
{
    const std::lock_guard lock(m_mutex);
    return keep([&] {
        if (!m_keeping) {
            return;
        }
        m_start.feed(bytes);
        m_written += bytes.size();
        if (m_file) {
            m_file->write(bytes);
            return;
        }
        if (m_pieces.empty() || m_held + bytes.size() > m_charged) {
            if (!m_budget->take(bytes.size())) {
                overBudget(bytes);
                return;
            }
            m_charged += bytes.size();
            m_pieces.emplace_back().reserve(bytes.size());
        }
        m_pieces.back().append(bytes);
        m_held += bytes.size();
    });
}

void FetchedBody::toFile(std::string_view bytes)
{
    m_file = m_fileSystem.stageFile(m_path);
    for (const std::string& piece : m_pieces) {
        m_file->write(piece);
    }
    release();
    m_file->write(bytes);
}

bool FetchedBody::takeTurn() noexcept
{
    const std::lock_guard lock(m_mutex);
    m_atTurn = true;
    return !m_letGo;
}

std::string FetchedBody::refusal() const
{
    return std::string(m_start.refusal(m_kind));
}

FetchedBody::Stored FetchedBody::store(const ContentCheckPort* check)
{
    const std::lock_guard lock(m_mutex);
    if (m_failure) {
        throw *m_failure;
    }
    if (m_discarded) {
        throw RunError(ErrorNumber::OutOfMemory, "out of memory for the body of '" + m_path + "'");
    }
    if (!m_file) {
        toFile({}); // a sink no transfer began holds an empty body
    }
    const std::unique_ptr<StagedFile> file = std::move(m_file);
    if (check != nullptr) {
        // What is looked into is what was written.
        file->close();
        if (check->fileDamage(file->temporaryPath(), m_kind)) {
            return {m_written, m_kind == CardFileKind::Illustration ? "damaged PNG image"
                                                                    : "XML not well-formed"};
        }
    }
    file->commit();
    return {m_written, {}};
}

void FetchedBody::discard() noexcept
{
    const std::lock_guard lock(m_mutex);
    m_discarded = true;
    m_file.reset();
    release();
}

} // namespace kqget

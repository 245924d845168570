#include "update/fetched_body.h"

#include <new>
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
    *m_budget -= std::exchange(m_charged, 0);
}

bool FetchedBody::reserve(std::uint64_t bytes)
{
    if (m_budget->fetch_add(bytes) + bytes > kBodyBytesInMemory) {
        *m_budget -= bytes;
        return false;
    }
    m_charged += bytes;
    m_pieces.emplace_back().reserve(bytes);
    return true;
}

void FetchedBody::spill(std::string_view bytes)
{
    if (m_state == State::Ahead) {
        release();
        m_state = State::LetGo;
        return;
    }
    m_file = m_fileSystem.stageFile(m_path);
    for (const std::string& piece : m_pieces) {
        m_file->write(piece);
    }
    release();
    m_file->write(bytes);
}

template <typename Step> bool FetchedBody::guarded(Step step) noexcept
{
    const std::lock_guard lock(m_mutex);
    const auto kept = [&] { return m_state == State::Ahead || m_state == State::AtTurn; };
    if (!kept()) {
        return false;
    }
    try {
        step();
    } catch (...) {
        m_file.reset();
        release();
        // Ahead of its turn the body is fetched again at its turn, where a
        // failure is the card's own.
        m_state = m_state == State::Ahead ? State::LetGo : State::Failed;
        m_failure = std::current_exception();
    }
    return kept();
}

bool FetchedBody::begin(long httpStatus, std::optional<std::uint64_t> length) noexcept
{
    return guarded([&] {
        m_file.reset();
        release();
        m_start = {};
        m_written = 0;
        m_content = isContentStatus(httpStatus);
        // An error page is read and dropped; a runaway body ends at the cap. An
        // announced one is held in one piece, never moved as it grows.
        if (m_content && length && *length <= kBodySizeCapBytes && !reserve(*length)) {
            spill({});
        }
    });
}

bool FetchedBody::write(std::string_view bytes) noexcept
{
    return guarded([&] {
        if (!m_content) {
            return;
        }
        m_start.feed(bytes);
        m_written += bytes.size();
        if (m_file) {
            m_file->write(bytes);
        } else if ((m_pieces.empty() ||
                    m_pieces.back().capacity() - m_pieces.back().size() < bytes.size()) &&
                   !reserve(bytes.size())) {
            spill(bytes);
        } else {
            m_pieces.back().append(bytes);
        }
    });
}

bool FetchedBody::takeTurn() noexcept
{
    const std::lock_guard lock(m_mutex);
    if (m_state == State::Ahead) {
        m_state = State::AtTurn;
    }
    return m_state != State::LetGo;
}

FetchedBody::Stored FetchedBody::store(const ContentCheckPort* check)
{
    const std::lock_guard lock(m_mutex);
    if (m_state == State::Failed) {
        try {
            std::rethrow_exception(m_failure);
        } catch (const std::bad_alloc&) {
            throw RunError(ErrorNumber::OutOfMemory,
                           "out of memory for the body of '" + m_path + "'");
        }
    }
    if (!m_file) {
        spill({}); // at its turn: into its file, also an empty body no transfer began
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
    m_state = State::LetGo;
    m_file.reset();
    release();
}

} // namespace kqget

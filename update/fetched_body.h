#pragma once

#include "update/body_start.h"
#include "update/content_check_port.h"
#include "update/file_system_port.h"
#include "update/run_error.h"
#include "update/transfer_port.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace kqget {

// The decoded bytes that bodies may hold in memory together, for the whole run.
struct BodyBudget
{
    explicit BodyBudget(std::uint64_t limit) : limit(limit) {}
    // Whether `bytes` more fit; when they do, they are counted.
    bool take(std::uint64_t bytes) noexcept
    {
        if (used.fetch_add(bytes) + bytes > limit) {
            used -= bytes;
            return false;
        }
        return true;
    }
    const std::uint64_t limit;
    std::atomic<std::uint64_t> used{0};
};

// A fetch's body on its way into a card file. It waits in memory, under the
// run's budget, until its card's turn, when store() writes it through the file
// system into a temporary file and renames that over the card file: nothing
// of a body is on disk before its turn. A reply that is not content is not
// kept at all.
//
// A body that outgrows the budget ahead of its turn is let go and fetched
// again at its turn; at its turn it goes on into its temporary file instead.
class FetchedBody final : public BodySink
{
public:
    FetchedBody(FileSystemPort& fileSystem, std::string path, CardFileKind kind,
                std::shared_ptr<BodyBudget> budget);
    ~FetchedBody() override;
    FetchedBody(const FetchedBody&) = delete;
    FetchedBody& operator=(const FetchedBody&) = delete;

    bool begin(long httpStatus, std::optional<std::uint64_t> length) noexcept override;
    bool write(std::string_view bytes) noexcept override;

    // The run has reached the body's card. False when the body was let go
    // ahead of its turn: it must be fetched again.
    bool takeTurn() noexcept;
    // Why the body, by its start, is no card file of its kind (as the log
    // says it); empty when it may be stored.
    std::string refusal() const;
    // What went wrong while the body was kept at its turn, if anything did.
    const std::optional<RunError>& failure() const noexcept { return m_failure; }

    struct Stored
    {
        std::uint64_t size = 0;
        std::string damage; // with a check: why the body was not stored
    };
    // Puts the body in place of the card file: the file holds exactly the
    // bytes written since the reply began. With `check`, a body that is no
    // whole card file of its kind is looked into before and not stored.
    // Throws RunError.
    Stored store(const ContentCheckPort* check);
    // Drops the body unseen and every later byte of it, at once.
    void discard() noexcept;

private:
    // Under m_mutex: the bytes held so far and `bytes` go on into the
    // temporary file.
    void toFile(std::string_view bytes);
    // Under m_mutex: a body with no room left ahead of its turn is let go.
    void overBudget(std::string_view bytes);
    // Under m_mutex: runs `keep` unless the body is no longer kept, and says
    // whether it still is.
    template <typename Keep> bool keep(Keep keep) noexcept;
    void failWithCaught() noexcept;
    void release() noexcept;

    FileSystemPort& m_fileSystem;
    const std::string m_path;
    const CardFileKind m_kind;
    const std::shared_ptr<BodyBudget> m_budget;
    BodyStart m_start;
    std::mutex m_mutex;
    std::vector<std::string> m_pieces; // the body in memory
    std::uint64_t m_held = 0;          // bytes in m_pieces
    std::uint64_t m_charged = 0;       // bytes taken from the budget
    std::unique_ptr<StagedFile> m_file;
    std::optional<RunError> m_failure;
    std::uint64_t m_written = 0;
    bool m_keeping = false;
    bool m_atTurn = false;
    bool m_letGo = false;
    bool m_discarded = false;
};

} // namespace kqget

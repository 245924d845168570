#pragma once

#include "update/body_start.h"
#include "update/content_check_port.h"
#include "update/file_system_port.h"
#include "update/run_error.h"
#include "update/transfer_port.h"

#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace kqget {

// What the bodies may hold in memory together, decoded, for the whole run.
inline constexpr std::uint64_t kBodyBytesInMemory = 64ULL * 1024 * 1024;
// The bytes they hold.
using BodyBudget = std::atomic<std::uint64_t>;

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

    bool begin(long httpStatus, std::optional<std::uint64_t> length) noexcept override;
    bool write(std::string_view bytes) noexcept override;

    // The run has reached the body's card. False when the body was let go
    // ahead of its turn: it must be fetched again.
    bool takeTurn() noexcept;
    // Why the body, by its start, is no card file of its kind (as the log
    // says it); empty when it may be stored.
    std::string refusal() const { return std::string(m_start.refusal(m_kind)); }
    // What went wrong while the body was kept at its turn, if anything did.
    const std::exception_ptr& failure() const noexcept { return m_failure; }
    const std::string& path() const noexcept { return m_path; }

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
    enum class State
    {
        Ahead,  // waits for its turn, in memory
        AtTurn, // its turn has come: what outgrows the budget goes to its file
        LetGo,  // dropped unseen, or let go ahead of its turn to be fetched again
        Failed, // at its turn: m_failure says why
    };
    // Runs `step` under m_mutex while the body is kept, and says whether it still is.
    template <typename Step> bool guarded(Step step) noexcept;
    // Under m_mutex: memory for `bytes` more in a new piece, if the budget has it.
    bool reserve(std::uint64_t bytes);
    // Under m_mutex: no room for `bytes` more. Ahead of its turn the body is
    // let go; at its turn it goes on into its file.
    void spill(std::string_view bytes);
    void release() noexcept;

    FileSystemPort& m_fileSystem;
    const std::string m_path;
    const CardFileKind m_kind;
    const std::shared_ptr<BodyBudget> m_budget;
    BodyStart m_start;
    std::mutex m_mutex;
    State m_state = State::Ahead;
    bool m_content = false;            // the reply's body is to be kept
    std::vector<std::string> m_pieces; // the body in memory, each piece reserved whole
    std::uint64_t m_charged = 0;       // bytes taken from the budget
    std::unique_ptr<StagedFile> m_file;
    std::exception_ptr m_failure;
    std::uint64_t m_written = 0;
};

} // namespace kqget

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

namespace kqget {

// The disk the bodies staged ahead of their turn may take together. A body
// that would take more is not kept: it is fetched again at its card's turn.
struct StagingRoom
{
    explicit StagingRoom(std::uint64_t limit) : limit(limit) {}
    const std::uint64_t limit;
    std::atomic<std::uint64_t> bytes{0};
};

// A fetch's body on its way into a card file: written into a temporary file
// beside it as it arrives, so that a body that waits for its card's turn
// costs no memory, and put in place only when the run decides so at that
// turn. A reply that is not content is not kept at all.
//
// A body fetched ahead of its turn is a favour, never a risk: when it cannot
// be kept (a full disk, no file handle left, no room in its share, its folder
// gone), it is let go and fetched again at its turn, so the run meets only the
// failures it would meet fetching one file at a time.
class FetchedBody final : public BodySink
{
public:
    // With `check`, the whole body is looked into once it has arrived: read
    // back from its temporary file, so that what is checked is what was
    // written, and bodies under way hold no copy in memory.
    // `room` is given for a body fetched ahead of its turn, none at its turn.
    FetchedBody(FileSystemPort& fileSystem, std::string path, CardFileKind kind,
                const ContentCheckPort* check = nullptr,
                std::shared_ptr<StagingRoom> room = nullptr);
    ~FetchedBody() override;
    FetchedBody(const FetchedBody&) = delete;
    FetchedBody& operator=(const FetchedBody&) = delete;

    bool begin(long httpStatus, std::optional<std::uint64_t> length) noexcept override;
    bool write(std::string_view bytes) noexcept override;

    // The fetch has finished: gives the file's handle back. A failure to do
    // so is kept for the card's turn, like one met while writing.
    void finish() noexcept;
    // The run has reached the body's card: from now on a failure to keep it
    // is the card's own. False when the body was let go ahead of its turn, or
    // its temporary file has gone since (removed by another program, its
    // folder made anew): it must be fetched again.
    bool takeTurn() noexcept;
    // Lets the body go if it is still ahead of its turn, as a shortage
    // would: it is fetched again at its turn.
    void yieldAhead() noexcept;
    // Whether a file failure (rather than the room's limit) let it go ahead
    // of its turn: the disk or the handles may be short.
    bool starvedAhead() const noexcept { return m_starved.load(); }
    // Why the body, whole, is no card file of its kind (as the log says it);
    // empty when it may be stored.
    std::string refusal() const;
    // What went wrong while the body was stored, if anything did.
    const std::optional<RunError>& failure() const noexcept { return m_failure; }
    // Puts the body in place of the card file and gives its size: the file
    // holds exactly the bytes written since the reply began. Throws RunError.
    std::uint64_t store();
    // Drops the body unseen and every later byte of it, at once: nothing of
    // it stays on disk even while a transfer's thread still writes.
    void discard() noexcept;

private:
    // Inside a catch block: keeps what went wrong and drops the file.
    void failWithCaught() noexcept;
    // Lets a body staged ahead go; it is fetched again at its turn.
    void letGo(bool starved) noexcept;
    void releaseRoom() noexcept;

    FileSystemPort& m_fileSystem;
    const std::string m_path;
    std::shared_ptr<StagingRoom> m_room; // none once at its turn
    const CardFileKind m_kind;
    const ContentCheckPort* const m_check;
    BodyStart m_start;
    bool m_damaged = false;
    std::mutex m_mutex;
    std::unique_ptr<StagedFile> m_file;
    std::optional<RunError> m_failure;
    std::uint64_t m_bytesAhead = 0;
    std::atomic<bool> m_starved{false};
    std::uint64_t m_written = 0;
    bool m_keeping = false;
    bool m_discarded = false;
    bool m_letGo = false;
};

} // namespace kqget

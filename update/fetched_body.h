#pragma once

#include "update/body_start.h"
#include "update/content_check_port.h"
#include "update/file_system_port.h"
#include "update/run_error.h"
#include "update/transfer_port.h"

#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace kqget {

// A fetch's body on its way into a card file: written into a temporary file
// beside it as it arrives, so that a body that waits for its card's turn
// costs no memory, and put in place only when the run decides so at that
// turn. A reply that is not content is not kept at all.
class FetchedBody final : public BodySink
{
public:
    // With `check`, the whole body is looked into once it has arrived.
    FetchedBody(FileSystemPort& fileSystem, std::string path, CardFileKind kind,
                const ContentCheckPort* check = nullptr);
    ~FetchedBody() override;
    FetchedBody(const FetchedBody&) = delete;
    FetchedBody& operator=(const FetchedBody&) = delete;

    bool begin(long httpStatus, std::optional<std::uint64_t> length) noexcept override;
    bool write(std::string_view bytes) noexcept override;

    // The fetch has finished: gives the file's handle back. A failure to do
    // so is kept for the card's turn, like one met while writing.
    void finish() noexcept;
    // Why the body, whole, is no card file of its kind (as the log says it);
    // empty when it may be stored.
    std::string refusal() const;
    // What went wrong while the body was stored, if anything did.
    const std::optional<RunError>& failure() const noexcept { return m_failure; }
    // Puts the body in place of the card file. Throws RunError.
    void store();
    // Drops the body unseen and every later byte of it, at once: nothing of
    // it stays on disk even while a transfer's thread still writes.
    void discard() noexcept;

private:
    // Inside a catch block: keeps what went wrong and drops the file.
    void failWithCaught() noexcept;

    FileSystemPort& m_fileSystem;
    const std::string m_path;
    const CardFileKind m_kind;
    const ContentCheckPort* const m_check;
    BodyStart m_start;
    std::string m_whole; // the body, only while it arrives and only to be checked
    bool m_damaged = false;
    std::mutex m_mutex;
    std::unique_ptr<StagedFile> m_file;
    std::optional<RunError> m_failure;
    bool m_keeping = false;
    bool m_discarded = false;
};

} // namespace kqget

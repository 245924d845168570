#pragma once

#include "update/file_system_port.h"
#include "update/run_error.h"
#include "update/transfer_port.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace kqget {

// A fetch's body on its way into a card file: written into a temporary file
// beside it as it arrives, so that a body that waits for its card's turn
// costs no memory, and put in place only when the run decides so at that
// turn. A reply that is not a success is not kept at all.
class FetchedBody final : public BodySink
{
public:
    FetchedBody(FileSystemPort& fileSystem, std::string path);
    ~FetchedBody() override;
    FetchedBody(const FetchedBody&) = delete;
    FetchedBody& operator=(const FetchedBody&) = delete;

    bool begin(long httpStatus, std::optional<std::uint64_t> length) noexcept override;
    bool write(std::string_view bytes) noexcept override;

    // The fetch has finished: gives the file's handle back. A failure to do
    // so is kept for the card's turn, like one met while writing.
    void finish() noexcept;
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

    FileSystemPort& m_fileSystem;
    const std::string m_path;
    std::mutex m_mutex;
    std::unique_ptr<StagedFile> m_file;
    std::optional<RunError> m_failure;
    std::uint64_t m_written = 0;
    bool m_keeping = false;
    bool m_discarded = false;
};

} // namespace kqget

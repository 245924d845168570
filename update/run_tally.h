#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kqget {

// A fetch whose body was not written into its card file, and why. The URL is
// the one shown to the user: the account key in it reads "…".
struct NotStoredFile
{
    std::string url;
    std::string path;
    std::string reason; // as logged, e.g. "HTTP 404"
};

// A file that was stored but is still below the size that passes, so the next
// run fetches it again (a placeholder image, an empty body).
struct SmallFile
{
    std::string url; // as shown, key hidden
    std::string path;
    std::uint64_t size = 0;
};

// A card file that passed the size rules but was found damaged, and why.
struct DamagedFile
{
    std::string path;
    std::string reason; // as logged, e.g. "CRC error in chunk IDAT"
};

// What a run has done so far; at its end, what it did.
struct RunTally
{
    std::string dataFolder; // as the run used it, the separator appended
    std::size_t cardsChecked = 0;
    std::size_t filesStored = 0;
    std::vector<NotStoredFile> notStored;
    std::vector<SmallFile> stillTooSmall;
    bool verified = false; // the files kept were looked into
    std::vector<DamagedFile> damaged;
    bool stopped = false; // the run ended early at the user's request
};

} // namespace kqget

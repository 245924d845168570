#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace kqget {

// A fetch whose body was not written into its card file, and why.
struct NotStoredFile
{
    std::string url;
    std::string path;
    std::string reason; // as logged, e.g. "HTTP 404"
};

// What a run has done so far; at its end, what it did.
struct RunTally
{
    std::size_t cardsChecked = 0;
    std::size_t filesStored = 0;
    std::vector<NotStoredFile> notStored;
    bool stopped = false; // the run ended early at the user's request
};

} // namespace kqget

#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kqget {

// What a killed run left in card folders: files of the temporary form that
// no staged file of this process holds. A card folder is listed once for
// both of its files: no other run can add to it meanwhile (one run at a time
// per data folder), and this process's own are known when it is listed.
class LeftoverSweep
{
public:
    // Removes the leftovers of the card file `target` ("FOLDER/CARD/NAME").
    // `dataFolder` is a handle on FOLDER, or -1 to go by the paths; `isOwn`
    // says whether a path is a staged file of this process. Links and
    // anything but a regular file stay; a failure only leaves a leftover.
    void sweep(std::string_view target, int dataFolder,
               const std::function<bool(const std::string&)>& isOwn);

private:
    struct Leftover
    {
        std::string name;
        unsigned char type; // as the listing gave it
    };
    void list(int dataFolder, const std::function<bool(const std::string&)>& isOwn);
    void remove(const Leftover& leftover, int dataFolder) const noexcept;

    // The card folder listed last (its path and its name in the data folder),
    // what it held for the file not yet swept, and the file it was listed for.
    std::string m_folder;
    std::string m_cardFolder;
    std::string m_listedFor;
    std::vector<Leftover> m_leftovers;
    std::unique_ptr<char[]> m_buffer;
};

} // namespace kqget

#pragma once

// The service paths written out by hand, independently of the code that forms
// them, so that a test compares against what the service expects.

#include <string>
#include <string_view>

namespace kqget::testing {

inline std::string infoPath(std::string_view card, std::string_view key, std::string_view user)
{
    return "/bof/bof.php?cmd=cardinfo&mlunkey=" + std::string(key) +
           "&mlunusername=" + std::string(user) + "&cardids=" + std::string(card) + "&xmlonly=1";
}

inline std::string imagePath(std::string_view card)
{
    const std::string id(card);
    return "/free/sets/" + id + "/illustrations/" + id + "_full.png";
}

// URLs on the hosts this build was configured with.
std::string configuredInfoUrl(std::string_view card, std::string_view key, std::string_view user);
std::string configuredImageUrl(std::string_view card);

} // namespace kqget::testing

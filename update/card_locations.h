#pragma once

#include <string>
#include <string_view>

namespace kqget {

// Where the card service lives: scheme and host (and port) of each of its two
// hosts, with no trailing '/'.
struct ServiceHosts
{
    std::string infoBase;
    std::string imageBase;
};

// The files and URLs of one card. Each URL comes twice: as formed, by plain
// concatenation of the values as typed and found, which the log and the
// screen show; and as it goes to the service, each value percent-encoded, so
// that the service reads exactly the typed key and user name and the folder's
// card id, whatever characters they hold.
class CardLocations
{
public:
    CardLocations(const ServiceHosts& hosts, std::string_view key, std::string_view userName,
                  std::string_view dataFolder, char separator);

    // Each written over `path`: a walk that keeps one string for each reuses
    // its room from card to card.
    void formFolderPath(std::string_view cardId, std::string& path) const;
    void formXmlPath(std::string_view cardId, std::string& path) const;
    void formIllustrationPath(std::string_view cardId, std::string& path) const;
    std::string infoUrl(std::string_view cardId) const;
    std::string imageUrl(std::string_view cardId) const;
    std::string wireInfoUrl(std::string_view cardId) const;
    std::string wireImageUrl(std::string_view cardId) const;
    // The info URL as the user may see it on screen: the key reads "…".
    std::string shownInfoUrl(std::string_view cardId) const;

    // Scheme and authority of each service (its base), which tell its hosts
    // apart.
    std::string_view infoOrigin() const noexcept { return m_infoOrigin; }
    std::string_view imageOrigin() const noexcept { return m_imageOrigin; }

private:
    void formCardFilePath(std::string_view cardId, std::string_view ending,
                          std::string& path) const;

    std::string m_infoPrefix; // up to "&cardids="
    std::string m_shownInfoPrefix;
    std::string m_wireInfoPrefix;
    std::string m_infoOrigin;
    std::string m_imageOrigin;
    std::string m_imagePrefix; // up to "/free/sets/"
    std::string m_dataFolder;  // ends in the separator
    char m_separator;
};

} // namespace kqget

#include "update/card_locations.h"

#include "update/display_text.h"

namespace kqget {

namespace {

// `text` as one component of a URL: the unreserved characters of RFC 3986
// (letters, digits, "-._~") as they are, every other byte as %XX. A service
// that decodes the component, with '+' read as a space or not, gets back
// exactly `text`; nothing in it can end a value, start another field or a
// fragment, or climb out of a path segment.
std::string uriComponent(std::string_view text)
{
    constexpr std::string_view kHexDigits = "0123456789ABCDEF";
    std::string encoded;
    for (const char c : text) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            std::string_view("-._~").find(c) != std::string_view::npos) {
            encoded.push_back(c);
            continue;
        }
        const auto byte = static_cast<unsigned char>(c);
        encoded.append({'%', kHexDigits[byte >> 4], kHexDigits[byte & 0x0F]});
    }
    return encoded;
}

} // namespace

CardLocations::CardLocations(const ServiceHosts& hosts, std::string_view key,
                             std::string_view userName, std::string_view dataFolder, char separator)
    : m_infoOrigin(hosts.infoBase), m_imageOrigin(hosts.imageBase), m_dataFolder(dataFolder),
      m_separator(separator)
{
    const auto infoPrefix = [&](std::string_view keyText, std::string_view userText) {
        return std::string(hosts.infoBase)
            .append("/bof/bof.php?cmd=cardinfo&mlunkey=")
            .append(keyText)
            .append("&mlunusername=")
            .append(userText)
            .append("&cardids=");
    };
    m_infoPrefix = infoPrefix(key, userName);
    m_shownInfoPrefix = infoPrefix(kHiddenKey, userName);
    m_wireInfoPrefix = infoPrefix(uriComponent(key), uriComponent(userName));
    m_imagePrefix.append(hosts.imageBase).append("/free/sets/");
}

void CardLocations::formFolderPath(std::string_view cardId, std::string& path) const
{
    path.assign(m_dataFolder).append(cardId);
}

void CardLocations::formCardFilePath(std::string_view cardId, std::string_view ending,
                                     std::string& path) const
{
    path.assign(m_dataFolder).append(cardId).append(1, m_separator).append(cardId).append(ending);
}

void CardLocations::formXmlPath(std::string_view cardId, std::string& path) const
{
    formCardFilePath(cardId, ".xml", path);
}

void CardLocations::formIllustrationPath(std::string_view cardId, std::string& path) const
{
    formCardFilePath(cardId, "_full.png", path);
}

std::string CardLocations::infoUrl(std::string_view cardId) const
{
    return std::string(m_infoPrefix).append(cardId).append("&xmlonly=1");
}

std::string CardLocations::shownInfoUrl(std::string_view cardId) const
{
    return std::string(m_shownInfoPrefix).append(cardId).append("&xmlonly=1");
}

std::string CardLocations::imageUrl(std::string_view cardId) const
{
    return std::string(m_imagePrefix)
        .append(cardId)
        .append("/illustrations/")
        .append(cardId)
        .append("_full.png");
}

std::string CardLocations::wireInfoUrl(std::string_view cardId) const
{
    return std::string(m_wireInfoPrefix).append(uriComponent(cardId)).append("&xmlonly=1");
}

std::string CardLocations::wireImageUrl(std::string_view cardId) const
{
    return imageUrl(uriComponent(cardId));
}

} // namespace kqget

#include "update/card_locations.h"

#include "update/build_config.h"
#include "update/uri_component.h"

namespace kqget {

namespace {

constexpr std::string_view kHiddenKey = "…";

// "http://host:port" of "http://host:port/path": the bases are our own
// settings, always written with a scheme.
std::string originOf(std::string_view base)
{
    const std::size_t authority = base.find("://");
    const std::size_t start = authority == std::string_view::npos ? 0 : authority + 3;
    return std::string(base.substr(0, base.find('/', start)));
}

} // namespace

ServiceHosts ServiceHosts::configured()
{
    return {std::string(kConfiguredInfoBase), std::string(kConfiguredImageBase)};
}

CardLocations::CardLocations(const ServiceHosts& hosts, std::string_view key,
                             std::string_view userName, std::string_view dataFolder, char separator)
    : m_infoOrigin(originOf(hosts.infoBase)), m_imageOrigin(originOf(hosts.imageBase)),
      m_dataFolder(dataFolder), m_separator(separator)
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

std::string CardLocations::folderPath(std::string_view cardId) const
{
    return m_dataFolder + std::string(cardId);
}

std::string CardLocations::xmlPath(std::string_view cardId) const
{
    std::string path = folderPath(cardId);
    path.append(1, m_separator).append(cardId).append(".xml");
    return path;
}

std::string CardLocations::illustrationPath(std::string_view cardId) const
{
    std::string path = folderPath(cardId);
    path.append(1, m_separator).append(cardId).append("_full.png");
    return path;
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
    const std::string id = uriComponent(cardId);
    return std::string(m_imagePrefix)
        .append(id)
        .append("/illustrations/")
        .append(id)
        .append("_full.png");
}

} // namespace kqget

#include "update/card_locations.h"

#include "update/build_config.h"

namespace kqget {

ServiceHosts ServiceHosts::configured()
{
    return {std::string(kConfiguredInfoBase), std::string(kConfiguredImageBase)};
}

CardLocations::CardLocations(const ServiceHosts& hosts, std::string_view key,
                             std::string_view userName, std::string_view dataFolder, char separator)
    : m_dataFolder(dataFolder), m_separator(separator)
{
    m_infoPrefix.append(hosts.infoBase)
        .append("/bof/bof.php?cmd=cardinfo&mlunkey=")
        .append(key)
        .append("&mlunusername=")
        .append(userName)
        .append("&cardids=");
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

std::string CardLocations::imageUrl(std::string_view cardId) const
{
    return std::string(m_imagePrefix)
        .append(cardId)
        .append("/illustrations/")
        .append(cardId)
        .append("_full.png");
}

} // namespace kqget

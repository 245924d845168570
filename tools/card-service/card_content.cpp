#include "tools/card-service/card_content.h"

#include <cstdint>

namespace kqget::testing {

namespace {

constexpr std::string_view kPngSignature = "\x89PNG\r\n\x1a\n";
constexpr std::size_t kPngBaseSize = 12000;
constexpr std::size_t kPngSizeSpread = 997;

// FNV-1a: a stable seed that differs from card to card.
std::uint32_t seedOf(std::string_view text)
{
    std::uint32_t hash = 2166136261u;
    for (const char c : text) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    }
    return hash;
}

std::string escapeXml(std::string_view text)
{
    std::string escaped;
    for (const char c : text) {
        switch (c) {
        case '&':
            escaped += "&amp;";
            break;
        case '<':
            escaped += "&lt;";
            break;
        case '>':
            escaped += "&gt;";
            break;
        case '"':
            escaped += "&quot;";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

std::string_view reasonOf(int status)
{
    switch (status) {
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    case 502:
        return "Bad Gateway";
    case 503:
        return "Service Unavailable";
    default:
        return "Error";
    }
}

} // namespace

std::string cardXml(std::string_view cardId, std::string_view key, std::string_view user)
{
    const std::string id = escapeXml(cardId);
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<cards><card id=\"" + id + "\" key=\"" +
           escapeXml(key) + "\" user=\"" + escapeXml(user) + "\"><name>Stand-in card " + id +
           "</name></card></cards>\n";
}

std::string cardPng(std::string_view cardId)
{
    const std::uint32_t seed = seedOf(cardId);
    std::string png(kPngSignature);
    const std::size_t size = kPngBaseSize + seed % kPngSizeSpread;
    png.reserve(size);
    for (std::uint32_t i = 0; png.size() < size; ++i) {
        png.push_back(static_cast<char>((seed >> (i % 4 * 8)) + i * 131u));
    }
    return png;
}

std::string errorPage(int status)
{
    const std::string title = std::to_string(status) + " " + std::string(reasonOf(status));
    return "<html><head><title>" + title + "</title></head><body><h1>" + title +
           "</h1></body></html>\n";
}

} // namespace kqget::testing

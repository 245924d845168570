#include "tools/card-service/card_content.h"

#include "tools/card-service/byte_formats.h"

#include <cstdint>

namespace kqget::testing {

namespace {

// Stored without compression, so that every card's image is a little over
// the 11000 bytes below which the client fetches it again.
constexpr std::uint32_t kPngBaseWidth = 60;
constexpr std::uint32_t kPngWidthSpread = 8;
constexpr std::uint32_t kPngHeight = 64;

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
    const std::uint32_t width = kPngBaseWidth + seed % kPngWidthSpread;
    std::string rows;
    std::uint32_t i = 0;
    for (std::uint32_t y = 0; y < kPngHeight; ++y) {
        rows.push_back('\0'); // no filter
        for (std::uint32_t x = 0; x < width * 3; ++x, ++i) {
            rows.push_back(static_cast<char>((seed >> (i % 4 * 8)) + i * 131u));
        }
    }
    return pngFile(width, kPngHeight, storedZlib(rows));
}

std::string errorPage(int status)
{
    const std::string title = std::to_string(status) + " " + std::string(reasonOf(status));
    return "<html><head><title>" + title + "</title></head><body><h1>" + title +
           "</h1></body></html>\n";
}

} // namespace kqget::testing

#include "platform/card_file_check.h"

#include "platform/png_check.h"
#include "platform/xml_check.h"
#include "update/transfer_port.h"

#include <vector>

namespace kqget {

std::optional<std::string> sharedDamage(CardFileKind kind, std::uint64_t size,
                                        const ReadPiece& read, std::uint64_t& pixels)
{
    if (size > kBodySizeCapBytes) {
        return "over " + std::to_string(kBodySizeCapMiB) + " MiB";
    }
    std::vector<char> buffer(64 * 1024);
    const auto readThrough = [&](auto& check) -> std::optional<std::string> {
        while (true) {
            std::span<char> piece(buffer);
            if (auto wrong = read(piece)) {
                return wrong;
            }
            if (piece.empty()) {
                return check.finish();
            }
            if (auto wrong = check.feed(std::string_view(piece.data(), piece.size()))) {
                return wrong;
            }
        }
    };
    if (kind == CardFileKind::Xml) {
        XmlCheck check;
        return readThrough(check);
    }
    PngCheck walk;
    if (auto wrong = readThrough(walk)) {
        return wrong;
    }
    pixels = walk.pixels();
    return std::nullopt;
}

} // namespace kqget

#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kqget {

// The two files a card folder holds.
enum class CardFileKind
{
    Xml,
    Illustration,
};

// Looks into card files: whether an illustration is a whole PNG image and an
// XML file well-formed XML. Only `--verify` asks; a plain run trusts a body
// that begins the right way (see body_start.h). May be called from several
// threads at once.
class ContentCheckPort
{
public:
    virtual ~ContentCheckPort() = default;

    // What is wrong with `bytes` as a card file of `kind`, in a few words
    // ("CRC error in chunk IDAT"); none when they are sound.
    virtual std::optional<std::string> damage(std::string_view bytes, CardFileKind kind) const = 0;

    // The same for the file at `path`. A file that cannot be read is damaged
    // for the reason the system gives.
    virtual std::optional<std::string> fileDamage(std::string_view path,
                                                  CardFileKind kind) const = 0;
};

} // namespace kqget

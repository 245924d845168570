#pragma once

#include "update/card_file_kind.h"

#include <optional>
#include <string>
#include <string_view>

namespace kqget {

// Looks into card files: whether an illustration is a whole PNG image and an
// XML file well-formed XML. Only `--verify` asks; a plain run trusts a body
// that begins the right way (see body_start.h). May be called from several
// threads at once.
class ContentCheckPort
{
public:
    virtual ~ContentCheckPort() = default;

    // What is wrong with the file at `path` as a card file of `kind`, in a
    // few words ("CRC error in chunk IDAT"); none when it is sound. A file
    // that cannot be read is damaged for the reason the system gives.
    virtual std::optional<std::string> fileDamage(std::string_view path,
                                                  CardFileKind kind) const = 0;
};

} // namespace kqget

#pragma once

#include "update/content_check_port.h"

namespace kqget {

// Card files looked into with the system's own decoders: WIC for PNG (its
// image data read a row at a time) and XmlLite for XML.
class Win32ContentCheck final : public ContentCheckPort
{
public:
    std::optional<std::string> damage(std::string_view bytes, CardFileKind kind) const override;
    std::optional<std::string> fileDamage(std::string_view path, CardFileKind kind) const override;
};

} // namespace kqget

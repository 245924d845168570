#pragma once

#include "update/content_check_port.h"

namespace kqget {

// Card files looked into on Linux: a PNG by the walk every system shares
// (png_check.h), then by libspng for what its chunks say; an XML file by the
// XML check every system shares (xml_check.h). Both read in fixed pieces.
class PosixContentCheck final : public ContentCheckPort
{
public:
    std::optional<std::string> fileDamage(std::string_view path, CardFileKind kind) const override;
};

} // namespace kqget

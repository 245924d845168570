#pragma once

#include "update/content_check_port.h"

namespace kqget {

// Card files looked into on Linux: by the checks every system shares
// (card_file_check.h), then a PNG by libspng for what its chunks say.
class PosixContentCheck final : public ContentCheckPort
{
public:
    std::optional<std::string> fileDamage(std::string_view path, CardFileKind kind) const override;
};

} // namespace kqget

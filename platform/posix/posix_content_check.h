#pragma once

#include "update/content_check_port.h"

namespace kqget {

// Card files looked into with libspng (the image data inflated and unfiltered
// row by row, never held whole) and expat.
class PosixContentCheck final : public ContentCheckPort
{
public:
    std::optional<std::string> fileDamage(std::string_view path, CardFileKind kind) const override;
};

} // namespace kqget

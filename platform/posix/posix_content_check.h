#pragma once

#include "platform/posix/wine_paths.h"
#include "update/content_check_port.h"

namespace kqget {

// Card files looked into on Linux: by the checks every system shares
// (card_file_check.h), then a PNG by libspng for what its chunks say. A path
// typed as a Windows path is found in the Wine prefix, as the file system
// finds it.
class PosixContentCheck final : public ContentCheckPort
{
public:
    std::optional<std::string> fileDamage(std::string_view path, CardFileKind kind) const override;

private:
    const WinePaths m_wine{WinePaths::prefixFromEnvironment()};
};

} // namespace kqget

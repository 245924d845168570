#pragma once

#include "update/content_check_port.h"

namespace kqget {

// Card files looked into on Windows: by the checks every system shares
// (card_file_check.h), then a PNG by WIC a row at a time where the image is
// small enough that WIC cannot cost much memory.
//
// COM's multithreaded apartment is held for the object's whole life, by the
// thread that makes it: the checking threads then share that one apartment
// instead of each setting one up and tearing it down per file.
class Win32ContentCheck final : public ContentCheckPort
{
public:
    Win32ContentCheck();
    ~Win32ContentCheck() override;
    Win32ContentCheck(const Win32ContentCheck&) = delete;
    Win32ContentCheck& operator=(const Win32ContentCheck&) = delete;

    std::optional<std::string> fileDamage(std::string_view path, CardFileKind kind) const override;

private:
    long m_com; // the HRESULT of joining the apartment
};

} // namespace kqget

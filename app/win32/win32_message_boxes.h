#pragma once

#include <string_view>
#include <windows.h>

namespace kqget {

// The window's two message boxes, behind one seam so that a test can answer
// them. Each returns once the user has dismissed its box. Texts are UTF-8.
class Win32MessageBoxes
{
public:
    virtual ~Win32MessageBoxes() = default;
    // The failure that ends the program; the window ends it when this returns.
    virtual void showFailure(HWND owner, int number, std::string_view description) = 0;
    // What a finished run left for the user to know.
    virtual void showNotice(HWND owner, std::string_view text) = 0;
};

// The system's modal MessageBoxW, with an OK button.
class SystemMessageBoxes final : public Win32MessageBoxes
{
public:
    void showFailure(HWND owner, int number, std::string_view description) override;
    void showNotice(HWND owner, std::string_view text) override;
};

} // namespace kqget

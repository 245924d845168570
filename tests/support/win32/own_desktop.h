#pragma once

#include <stdexcept>
#include <string>
#include <windows.h>

namespace kqget::testing {

// Puts the calling thread's windows, and those of programs started with
// `name` as their desktop, on a desktop of their own, away from the user's
// and on the display the test is given: Wine makes a desktop's window on the
// display of the first program that uses it, and the default desktop's was
// made without one, when the Wine prefix was set up.
class OwnDesktop
{
public:
    explicit OwnDesktop(const wchar_t* name)
        : m_desktop(::CreateDesktopW(name, nullptr, nullptr, 0, GENERIC_ALL, nullptr))
    {
        if (m_desktop == nullptr || !::SetThreadDesktop(m_desktop)) {
            throw std::runtime_error("no desktop for the test's windows: error " +
                                     std::to_string(::GetLastError()));
        }
    }
    ~OwnDesktop() { ::CloseDesktop(m_desktop); }
    OwnDesktop(const OwnDesktop&) = delete;
    OwnDesktop& operator=(const OwnDesktop&) = delete;

private:
    HDESK m_desktop;
};

} // namespace kqget::testing

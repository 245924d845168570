#pragma once

// The WindowView on the Win32 window's controls: included by the window's own
// files only.

#include "app/win32/win32_main_window.h"
#include "app/win32/win32_window_support.h"
#include "platform/win32/wide_text.h"

#include <map>
#include <stdexcept>
#include <string>

namespace kqget {

// Addresses the controls by their names; the window owns them.
class Win32MainWindow::ControlView final : public WindowView
{
public:
    ControlView(Win32MainWindow& window, Win32MessageBoxes& messageBoxes)
        : m_window(window), m_messageBoxes(messageBoxes)
    {}

    void add(std::string_view control, HWND handle) { m_controls.emplace(control, handle); }
    HWND control(std::string_view name) const
    {
        const auto found = m_controls.find(name);
        if (found == m_controls.end()) {
            throw std::logic_error("the window has no control " + std::string(name));
        }
        return found->second;
    }

    std::string text(std::string_view control) const override
    {
        return toUtf8(windowText(this->control(control)));
    }
    void setText(std::string_view control, std::string_view text) override
    {
        if (!::SetWindowTextW(this->control(control), toWide(text).c_str())) {
            failWithLastError("the text of " + std::string(control) + " cannot be set");
        }
    }
    bool isEnabled(std::string_view control) const override
    {
        return ::IsWindowEnabled(this->control(control)) != FALSE;
    }
    void setEnabled(std::string_view control, bool enabled) override
    {
        HWND handle = this->control(control);
        // A control that goes off with the focus takes it along, and nothing
        // has it: pass it on as the Tab key would, while this one still counts.
        if (!enabled) {
            if (::GetFocus() == handle) {
                ::SetFocus(::GetNextDlgTabItem(m_window.handle(), handle, FALSE));
            }
            if (m_window.m_lastFocus == handle) {
                m_window.m_lastFocus = nullptr;
            }
        }
        ::EnableWindow(handle, enabled);
    }
    void setFocus(std::string_view control) override
    {
        // Taking the focus would activate the window over the one the user
        // went on to: then it is where the focus goes back to.
        if (::GetActiveWindow() == m_window.handle()) {
            ::SetFocus(this->control(control));
        } else {
            m_window.m_lastFocus = this->control(control);
        }
    }
    CheckValue checkValue(std::string_view control) const override
    {
        // BST_UNCHECKED, BST_CHECKED and BST_INDETERMINATE are 0, 1 and 2.
        return static_cast<CheckValue>(::SendMessageW(this->control(control), BM_GETCHECK, 0, 0));
    }
    void setCheckValue(std::string_view control, CheckValue value) override
    {
        if (checkValue(control) == value) {
            return;
        }
        ::SendMessageW(this->control(control), BM_SETCHECK, static_cast<WPARAM>(value), 0);
        // Win32 tells nobody of a value the program sets; the box's handler
        // runs as for a click.
        m_window.m_logic.confirmClicked();
    }
    void processPendingEvents() override { m_window.processPendingEvents(); }
    void showFailure(int number, std::string_view description) override
    {
        m_messageBoxes.showFailure(m_window.handle(), number, description);
    }
    void showNotice(std::string_view text) override
    {
        m_messageBoxes.showNotice(m_window.handle(), text);
    }
    void endProgram(int exitStatus) override { m_window.endProgram(exitStatus); }

private:
    Win32MainWindow& m_window;
    Win32MessageBoxes& m_messageBoxes;
    std::map<std::string, HWND, std::less<>> m_controls;
};

} // namespace kqget

#pragma once

// The WindowView on the Win32 window's controls: included by the window's own
// files only.

#include "app/win32/win32_main_window.h"
#include "app/win32/win32_window_support.h"
#include "platform/win32/wide_text.h"

#include <array>
#include <stdexcept>
#include <string>

namespace kqget {

// The window's child windows, one for each control; the window owns them.
class Win32MainWindow::ControlView final : public WindowView
{
public:
    ControlView(Win32MainWindow& window, Win32MessageBoxes& messageBoxes)
        : m_window(window), m_messageBoxes(messageBoxes)
    {}

    void add(Control control, HWND handle) { m_controls[index(control)] = handle; }
    HWND control(Control control) const
    {
        HWND found = m_controls[index(control)];
        if (found == nullptr) {
            throw std::logic_error("the control " + std::string(controlName(control)) +
                                   " is not made yet");
        }
        return found;
    }

    std::string text(Control control) const override
    {
        return toUtf8(windowText(this->control(control)));
    }
    void setText(Control control, std::string_view text) override
    {
        if (!::SetWindowTextW(this->control(control), toWide(text).c_str())) {
            failWithLastError("the text of " + std::string(controlName(control)) +
                              " cannot be set");
        }
    }
    bool isEnabled(Control control) const override
    {
        return ::IsWindowEnabled(this->control(control)) != FALSE;
    }
    void setEnabled(Control control, bool enabled) override
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
    void setFocus(Control control) override
    {
        // Taking the focus would activate the window over the one the user
        // went on to: then it is where the focus goes back to.
        if (::GetActiveWindow() == m_window.handle()) {
            ::SetFocus(this->control(control));
        } else {
            m_window.m_lastFocus = this->control(control);
        }
    }
    CheckValue checkValue(Control control) const override
    {
        // BST_UNCHECKED, BST_CHECKED and BST_INDETERMINATE are 0, 1 and 2.
        return static_cast<CheckValue>(::SendMessageW(this->control(control), BM_GETCHECK, 0, 0));
    }
    void setCheckValue(Control control, CheckValue value) override
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
    static std::size_t index(Control control) { return static_cast<std::size_t>(control); }

    std::array<HWND, kControlTable.size()> m_controls{};
};

} // namespace kqget

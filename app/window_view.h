#pragma once

#include "app/control_table.h"

#include <string>
#include <string_view>

namespace kqget {

// Check1's value: what the box shows.
enum class CheckValue : int
{
    Unticked = 0,
    Ticked = 1,
    Grey = 2,
};

// The window as its handlers see it: the properties of its controls and the
// few things only the toolkit can do. A binding
// implements it on its own widgets (Qt, Win32) and forwards the controls'
// events to WindowLogic; the handlers never see a toolkit type.
//
// Texts are UTF-8. Asking a control for what it does not have (a frame's
// check value) is a programming fault: the binding throws std::logic_error.
class WindowView
{
public:
    virtual ~WindowView() = default;

    // A button's, label's or frame's caption; a text box's text.
    virtual std::string text(Control control) const = 0;
    virtual void setText(Control control, std::string_view text) = 0;

    virtual bool isEnabled(Control control) const = 0;
    virtual void setEnabled(Control control, bool enabled) = 0;

    // Gives the control the keyboard focus; in a window that is not active,
    // the control gets it when the window is active again.
    virtual void setFocus(Control control) = 0;

    // A check box's value. A change made here must reach
    // WindowLogic::confirmClicked() as a user's click does; a toolkit that does
    // not raise the click for a change the program makes calls it itself.
    virtual CheckValue checkValue(Control control) const = 0;
    virtual void setCheckValue(Control control, CheckValue value) = 0;

    // Lets the window handle queued input and repaint before the handler goes on.
    virtual void processPendingEvents() = 0;

    // The failure that ended a run, with its number and description; the
    // user has seen it when this returns.
    virtual void showFailure(int number, std::string_view description) = 0;
    // A message for the user to read after a run, such as the files it left
    // unrepaired; returns when the user has dismissed it.
    virtual void showNotice(std::string_view text) = 0;

    // The program is to end with this exit status once the handler returns.
    virtual void endProgram(int exitStatus) = 0;
};

} // namespace kqget

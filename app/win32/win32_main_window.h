#pragma once

#include "app/win32/guide_picture.h"
#include "app/win32/win32_handles.h"
#include "app/win32/win32_message_boxes.h"
#include "app/window_logic.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <windows.h>

namespace kqget {

// The id of a control among the window's children, for GetDlgItem.
int win32ControlId(Control control);

// The program's one window, `Form1`, as a native Win32 window: its controls
// built from the control table at the monitor's DPI, and their events handed
// to WindowLogic, which does all the work through a WindowView on these HWNDs.
// Needs a GdiplusSession for its whole life.
class Win32MainWindow
{
public:
    // Creates the window, hidden, and runs its load handler. Throws
    // std::runtime_error, with the system's reason, when it cannot be made.
    Win32MainWindow(HINSTANCE instance, Win32MessageBoxes& messageBoxes, FileSystemPort& fileSystem,
                    WindowLogic::TransferFactory makeTransfer,
                    std::string logPath = std::string(kRunLogFileName),
                    ServiceHosts hosts = ServiceBases::configured().hosts());
    ~Win32MainWindow();
    Win32MainWindow(const Win32MainWindow&) = delete;
    Win32MainWindow& operator=(const Win32MainWindow&) = delete;

    HWND handle() const noexcept { return m_window.get(); }
    HWND control(Control control) const;

    void show(int showCommand);
    // Handles every message waiting, so that what is shown is painted.
    void processPendingEvents();
    // Handles the window's messages until the program is to end; its exit status.
    int run();

    // Set once the program is to end: the window was closed, or a run ended it.
    std::optional<int> exitStatus() const noexcept { return m_exitStatus; }

private:
    class ControlView; // the WindowView on this window's controls

    static LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam);
    LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void createWindow(HINSTANCE instance);
    void createControls(HINSTANCE instance);
    void applyDpi(UINT dpi); // the font, the places and the sizes at this DPI
    // The system's message font, made smaller where it must be so that every
    // label's and the box's caption fits its control as the layout means it to:
    // the layout was drawn for a small dialog font.
    UniqueFont layoutFont(UINT dpi) const;
    bool captionsFit(HFONT font, UINT dpi) const;
    void commandFrom(int controlId);
    void drawPicture(const DRAWITEMSTRUCT& item) const;
    void dispatch(MSG& message);
    void endProgram(int exitStatus);

    ComApartment m_com; // for the accessibility annotations
    GuidePicture m_picture;
    std::unique_ptr<ControlView> m_view;
    WindowLogic m_logic;
    UniqueFont m_font;
    HWND m_lastFocus = nullptr; // given back when the window is active again
    bool m_showFocus = false;   // the guide picture draws its focus
    std::optional<int> m_exitStatus;
    UniqueWindow m_window; // last: destroyed first, while the rest still stands
};

} // namespace kqget

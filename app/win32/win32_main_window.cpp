#include "app/win32/win32_main_window.h"

#include "app/control_table.h"
#include "app/win32/field_caption.h"
#include "app/win32/win32_control_view.h"
#include "app/win32/win32_window_support.h"
#include "platform/win32/wide_text.h"
#include "update/exit_status.h"
#include "update/run_error.h"

#include <string>

// The window itself: its class, its messages and its message loop.

namespace kqget {

namespace {

constexpr const wchar_t* kWindowClass = L"kqgetForm1";

} // namespace

Win32MainWindow::Win32MainWindow(HINSTANCE instance, Win32MessageBoxes& messageBoxes,
                                 FileSystemPort& fileSystem,
                                 WindowLogic::TransferFactory makeTransfer, std::string logPath,
                                 ServiceHosts hosts)
    : m_picture(instance), m_view(std::make_unique<ControlView>(*this, messageBoxes)),
      m_logic(*m_view, fileSystem, std::move(makeTransfer), std::move(logPath), std::move(hosts))
{
    createWindow(instance);
    createControls(instance);
    // The guide picture shows its focus once the keyboard is used, or from
    // the start for a user who has the system show focus always: as the
    // system's dialogs show theirs when started with the mouse.
    BOOL cuesAlwaysShown = FALSE;
    ::SystemParametersInfoW(SPI_GETKEYBOARDCUES, 0, &cuesAlwaysShown, 0);
    m_showFocus = cuesAlwaysShown != FALSE;
    m_logic.load();
    // After the load handler: the font is chosen to fit the texts it wrote.
    applyDpi(::GetDpiForWindow(handle()));
}

Win32MainWindow::~Win32MainWindow() = default;

HWND Win32MainWindow::control(Control control) const
{
    return m_view->control(control);
}

void Win32MainWindow::createWindow(HINSTANCE instance)
{
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = windowProcedure;
    windowClass.hInstance = instance;
    windowClass.hIcon = ::LoadIconW(nullptr, IDI_APPLICATION);
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = ::GetSysColorBrush(COLOR_BTNFACE);
    windowClass.lpszClassName = kWindowClass;
    // A second window of the same program finds the class there already.
    if (!::RegisterClassExW(&windowClass) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        failWithLastError("the window class cannot be registered");
    }
    // Placed and sized once its monitor, and so its DPI, is known.
    const std::wstring title = toWide(kWindowTitle);
    HWND window = ::CreateWindowExW(0, kWindowClass, title.c_str(), WS_OVERLAPPEDWINDOW,
                                    CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                    nullptr, nullptr, instance, this);
    if (window == nullptr) {
        failWithLastError("the window cannot be created");
    }
    m_window.reset(window);
}

void Win32MainWindow::show(int showCommand)
{
    // The client area takes the table's size at the DPI of the window's
    // monitor, and the window is centred in that monitor's work area.
    const UINT dpi = ::GetDpiForWindow(handle());
    RECT frame{0, 0, twipsToPixelsAt(kClientWidthTwips, dpi),
               twipsToPixelsAt(kClientHeightTwips, dpi)};
    const auto style = static_cast<DWORD>(::GetWindowLongPtrW(handle(), GWL_STYLE));
    ::AdjustWindowRectExForDpi(&frame, style, FALSE, 0, dpi);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    ::GetMonitorInfoW(::MonitorFromWindow(handle(), MONITOR_DEFAULTTOPRIMARY), &monitor);
    const RECT& work = monitor.rcWork;
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    ::SetWindowPos(handle(), nullptr, work.left + (work.right - work.left - width) / 2,
                   work.top + (work.bottom - work.top - height) / 2, width, height,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    ::ShowWindow(handle(), showCommand);
    ::UpdateWindow(handle());
}

void Win32MainWindow::dispatch(MSG& message)
{
    if (!m_showFocus && (message.message == WM_KEYDOWN || message.message == WM_SYSKEYDOWN)) {
        m_showFocus = true;
        ::InvalidateRect(control(Control::Picture), nullptr, FALSE);
    }
    // The dialog manager's keys: Tab and Shift+Tab, Space on a button.
    if (!::IsDialogMessageW(handle(), &message)) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

void Win32MainWindow::processPendingEvents()
{
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            // For the loop in run(), once the handler under way returns.
            ::PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        dispatch(message);
    }
}

int Win32MainWindow::run()
{
    MSG message;
    while (!m_exitStatus && ::GetMessageW(&message, nullptr, 0, 0) > 0) {
        dispatch(message);
    }
    return m_exitStatus.value_or(0);
}

void Win32MainWindow::endProgram(int exitStatus)
{
    if (!m_exitStatus) {
        m_exitStatus = exitStatus;
        ::PostQuitMessage(exitStatus);
    }
}

LRESULT CALLBACK Win32MainWindow::windowProcedure(HWND window, UINT message, WPARAM wParam,
                                                  LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        const auto* creation = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        ::SetWindowLongPtrW(window, GWLP_USERDATA,
                            reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
    }
    auto* self = reinterpret_cast<Win32MainWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    }
    if (self == nullptr || self->handle() != window) {
        return ::DefWindowProcW(window, message, wParam, lParam);
    }
    // No exception may unwind through the system's frames: one that reaches
    // here is a fault of the program, reported like a failed run.
    try {
        return self->handleMessage(message, wParam, lParam);
    } catch (...) {
        const CaughtFailure failure = caughtFailure();
        self->m_view->showFailure(static_cast<int>(failure.number), failure.description);
        self->endProgram(exitCode(ExitStatus::Failed));
        return 0;
    }
}

LRESULT Win32MainWindow::handleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COMMAND:
        // Only a click from a control that can take one: another program, or
        // BM_CLICK under some systems, can make a disabled button send its
        // click, and a press on a locked control during a run would unlock it.
        if (HIWORD(wParam) == BN_CLICKED && lParam != 0 &&
            ::IsWindowEnabled(reinterpret_cast<HWND>(lParam))) {
            commandFrom(LOWORD(wParam));
        }
        return 0;
    case WM_DRAWITEM: {
        const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (item.hwndItem == control(Control::Picture)) {
            drawPicture(item);
        } else {
            // A field caption, in the window's font: the DC comes with the
            // system's.
            const HGDIOBJ previous = ::SelectObject(item.hDC, m_font.get());
            drawFieldCaption(item.hDC, item.rcItem, windowText(item.hwndItem));
            ::SelectObject(item.hDC, previous);
        }
        return TRUE;
    }
    case WM_ACTIVATE:
        if (LOWORD(wParam) == WA_INACTIVE) {
            if (HWND focus = ::GetFocus(); focus != nullptr && ::IsChild(handle(), focus)) {
                m_lastFocus = focus;
            }
        }
        break;
    case WM_SETFOCUS: {
        // Back to the control that had the focus, or the first that can take it.
        HWND target = m_lastFocus;
        if (target == nullptr || !::IsWindowEnabled(target)) {
            target = ::GetNextDlgTabItem(handle(), nullptr, FALSE);
        }
        if (target != nullptr) {
            ::SetFocus(target);
        }
        return 0;
    }
    case WM_DPICHANGED: {
        const auto* suggested = reinterpret_cast<const RECT*>(lParam);
        ::SetWindowPos(handle(), nullptr, suggested->left, suggested->top,
                       suggested->right - suggested->left, suggested->bottom - suggested->top,
                       SWP_NOZORDER | SWP_NOACTIVATE);
        applyDpi(HIWORD(wParam));
        ::InvalidateRect(handle(), nullptr, TRUE);
        return 0;
    }
    case WM_CLOSE:
        // A run under way ends at its next safe point, with its log closed,
        // and then ends the program; the window goes at once, so the user
        // sees the close was taken.
        m_logic.closing();
        if (m_logic.runUnderWay()) {
            ::ShowWindow(handle(), SW_HIDE);
        } else {
            endProgram(0);
        }
        return 0;
    default:
        break;
    }
    return ::DefWindowProcW(handle(), message, wParam, lParam);
}

void Win32MainWindow::commandFrom(int controlId)
{
    if (controlId == win32ControlId(Control::Confirm)) {
        const CheckValue now = m_view->checkValue(Control::Confirm);
        m_view->setCheckValue(Control::Confirm, now == CheckValue::Unticked ? CheckValue::Ticked
                                                                            : CheckValue::Unticked);
    } else if (controlId == win32ControlId(Control::Update)) {
        m_logic.updateClicked();
    } else if (controlId == win32ControlId(Control::Reset)) {
        m_logic.resetClicked();
    }
}

void Win32MainWindow::drawPicture(const DRAWITEMSTRUCT& item) const
{
    ::FillRect(item.hDC, &item.rcItem, ::GetSysColorBrush(COLOR_BTNFACE));
    m_picture.draw(item.hDC, item.rcItem, ::GetDpiForWindow(item.hwndItem));
    const auto cues = ::SendMessageW(item.hwndItem, WM_QUERYUISTATE, 0, 0);
    if (m_showFocus && ::GetFocus() == item.hwndItem && (cues & UISF_HIDEFOCUS) == 0) {
        RECT inside = item.rcItem;
        ::InflateRect(&inside, -1, -1);
        ::DrawFocusRect(item.hDC, &inside);
    }
}

} // namespace kqget

#include "app/win32/win32_main_window.h"

#include "app/control_table.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/windows_error_text.h"
#include "update/exit_status.h"
#include "update/run_error.h"

#include <commctrl.h>
#include <cstdlib>
#include <initguid.h> // before oleacc.h: defines the property ids it names
#include <oleacc.h>
#include <map>
#include <stdexcept>
#include <string>

namespace kqget {

namespace {

constexpr const wchar_t* kWindowClass = L"kqgetForm1";
constexpr int kFirstControlId = 100;
constexpr int kTwipsPerInch = 1440;
// Pixels at 96 dots per inch: the least font height the captions may be
// shrunk to, and the room between a check box's box and its caption.
constexpr int kSmallestFontPixels = 9;
constexpr int kCheckBoxTextGap = 4;

[[noreturn]] void failWithLastError(const std::string& what)
{
    throw std::runtime_error(what + ": " + windowsErrorText(::GetLastError()));
}

std::size_t tableIndex(std::string_view control)
{
    for (std::size_t index = 0; index < kControlTable.size(); ++index) {
        if (kControlTable[index].name == control) {
            return index;
        }
    }
    throw std::logic_error("the window has no control " + std::string(control));
}

const ControlEntry& frameOf(const ControlEntry& control)
{
    return kControlTable[tableIndex(control.container)];
}

int twipsToPixelsAt(int twips, UINT dpi)
{
    return ::MulDiv(twips, static_cast<int>(dpi), kTwipsPerInch);
}

// The control's rectangle in the window's client area: every control is a
// child of the window itself, so one inside a frame is moved by the frame's
// corner. Both edges are converted, so that neighbours never drift apart.
RECT controlRect(const ControlEntry& control, UINT dpi)
{
    int left = control.left;
    int top = control.top;
    if (control.container != kWindowName) {
        left += frameOf(control).left;
        top += frameOf(control).top;
    }
    return {twipsToPixelsAt(left, dpi), twipsToPixelsAt(top, dpi),
            twipsToPixelsAt(left + control.width, dpi), twipsToPixelsAt(top + control.height, dpi)};
}

struct ControlClass
{
    const wchar_t* className;
    DWORD style;
    DWORD extendedStyle;
};

ControlClass controlClass(const ControlEntry& control)
{
    switch (control.kind) {
    case ControlKind::CommandButton:
        return {WC_BUTTONW, BS_PUSHBUTTON | WS_TABSTOP, 0};
    case ControlKind::PictureBox:
        // In the tab order like any picture box, though it has nothing to type into.
        return {WC_STATICW, SS_OWNERDRAW | WS_TABSTOP, WS_EX_CLIENTEDGE};
    case ControlKind::Label:
        return {WC_STATICW,
                static_cast<DWORD>(
                    (control.setting == ControlSetting::FieldCaption ? SS_RIGHT : SS_LEFT) |
                    SS_NOPREFIX),
                0};
    case ControlKind::TextBox:
        return {WC_EDITW, ES_LEFT | ES_AUTOHSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE};
    case ControlKind::Frame:
        return {WC_BUTTONW, BS_GROUPBOX, 0};
    case ControlKind::CheckBox:
        // Not an automatic box: the window decides the value, and a value set
        // by the program must run the same handler as a click.
        return {WC_BUTTONW, BS_3STATE | WS_TABSTOP, 0};
    }
    throw std::logic_error("control table: unknown kind of " + std::string(control.name));
}

// The system's message font at this DPI, as every dialog uses it.
LOGFONTW messageFont(UINT dpi)
{
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (!::SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi)) {
        failWithLastError("the system's message font cannot be read");
    }
    return metrics.lfMessageFont;
}

std::wstring windowText(HWND window)
{
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        ::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

} // namespace

int win32ControlId(std::string_view control)
{
    return kFirstControlId + static_cast<int>(tableIndex(control));
}

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

Win32MainWindow::Win32MainWindow(HINSTANCE instance, Win32MessageBoxes& messageBoxes,
                                 FileSystemPort& fileSystem,
                                 WindowLogic::TransferFactory makeTransfer, std::string logPath)
    : m_picture(instance), m_view(std::make_unique<ControlView>(*this, messageBoxes)),
      m_logic(*m_view, fileSystem, std::move(makeTransfer), std::move(logPath))
{
    createWindow(instance);
    createControls(instance);
    m_logic.load();
    // After the load handler: the font is chosen to fit the texts it wrote.
    applyDpi(::GetDpiForWindow(handle()));
}

Win32MainWindow::~Win32MainWindow() = default;

HWND Win32MainWindow::control(std::string_view name) const
{
    return m_view->control(name);
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

void Win32MainWindow::createControls(HINSTANCE instance)
{
    int id = kFirstControlId;
    for (const ControlEntry& control : kControlTable) {
        const ControlClass made = controlClass(control);
        DWORD style = made.style | WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
        if (control.setting == ControlSetting::Disabled) {
            style |= WS_DISABLED;
        }
        // Created in tab order: the order of the children is the Tab key's.
        HWND child = ::CreateWindowExW(
            made.extendedStyle, made.className, toWide(control.text).c_str(), style, 0, 0, 0, 0,
            handle(), reinterpret_cast<HMENU>(static_cast<INT_PTR>(id++)), instance, nullptr);
        if (child == nullptr) {
            failWithLastError("the control " + std::string(control.name) + " cannot be created");
        }
        m_view->add(control.name, child);
    }
    // A frame is drawn beneath the controls inside it; frames take no focus,
    // so moving them to the back leaves the tab order as it is.
    for (const ControlEntry& control : kControlTable) {
        if (control.kind == ControlKind::Frame) {
            ::SetWindowPos(this->control(control.name), HWND_BOTTOM, 0, 0, 0, 0,
                           SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        }
    }
}

UniqueFont Win32MainWindow::layoutFont(UINT dpi) const
{
    LOGFONTW font = messageFont(dpi);
    const int smallest =
        ::MulDiv(kSmallestFontPixels, static_cast<int>(dpi), USER_DEFAULT_SCREEN_DPI);
    for (int height = std::abs(font.lfHeight);; --height) {
        font.lfHeight = -height;
        UniqueFont made(::CreateFontIndirectW(&font));
        if (!made) {
            failWithLastError("the system's message font cannot be made");
        }
        if (height <= smallest || captionsFit(made.get(), dpi)) {
            return made;
        }
    }
}

bool Win32MainWindow::captionsFit(HFONT font, UINT dpi) const
{
    const WindowDc dc(handle());
    const HGDIOBJ previous = ::SelectObject(dc.get(), font);
    bool fit = true;
    for (const ControlEntry& control : kControlTable) {
        if (control.kind != ControlKind::Label && control.kind != ControlKind::CheckBox) {
            continue;
        }
        const RECT place = controlRect(control, dpi);
        int width = place.right - place.left;
        if (control.kind == ControlKind::CheckBox) {
            width -= ::GetSystemMetricsForDpi(SM_CXMENUCHECK, dpi) +
                     ::MulDiv(kCheckBoxTextGap, static_cast<int>(dpi), USER_DEFAULT_SCREEN_DPI);
        }
        // Broken into lines as the control itself breaks them.
        const std::wstring text = windowText(this->control(control.name));
        RECT needed{0, 0, width, 0};
        ::DrawTextW(dc.get(), text.c_str(), static_cast<int>(text.size()), &needed,
                    DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS | DT_NOPREFIX);
        if (needed.bottom > place.bottom - place.top) {
            fit = false;
            break;
        }
    }
    ::SelectObject(dc.get(), previous);
    return fit;
}

void Win32MainWindow::applyDpi(UINT dpi)
{
    m_font = layoutFont(dpi);
    for (const ControlEntry& control : kControlTable) {
        const RECT place = controlRect(control, dpi);
        HWND child = this->control(control.name);
        ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(m_font.get()), FALSE);
        ::MoveWindow(child, place.left, place.top, place.right - place.left,
                     place.bottom - place.top, TRUE);
    }
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
    case WM_DRAWITEM:
        drawPicture(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return TRUE;
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
    if (controlId == win32ControlId(controls::kConfirm)) {
        const CheckValue now = m_view->checkValue(controls::kConfirm);
        m_view->setCheckValue(controls::kConfirm, now == CheckValue::Unticked
                                                      ? CheckValue::Ticked
                                                      : CheckValue::Unticked);
    } else if (controlId == win32ControlId(controls::kUpdate)) {
        m_logic.updateClicked();
    } else if (controlId == win32ControlId(controls::kReset)) {
        m_logic.resetClicked();
    }
}

void Win32MainWindow::drawPicture(const DRAWITEMSTRUCT& item) const
{
    ::FillRect(item.hDC, &item.rcItem, ::GetSysColorBrush(COLOR_BTNFACE));
    m_picture.draw(item.hDC, item.rcItem, ::GetDpiForWindow(item.hwndItem));
}

} // namespace kqget

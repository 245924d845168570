#include "app/control_table.h"
#include "app/win32/field_caption.h"
#include "app/win32/win32_control_view.h"
#include "app/win32/win32_main_window.h"
#include "app/win32/win32_window_support.h"
#include "app/window_texts.h"
#include "platform/win32/wide_text.h"

#include <algorithm>
#include <array>
#include <commctrl.h>
#include <cstdlib>
#include <initguid.h> // before oleacc.h: defines the property ids it names
#include <oleacc.h>
#include <stdexcept>
#include <string>

// The window's controls: made from the control table, ordered for the Tab key
// and for screen readers, and given the font and places of the monitor's DPI.

namespace kqget {

namespace {

constexpr int kFirstControlId = 100;
// Pixels at 96 dots per inch: the least font height the captions may be
// shrunk to, and the room between a check box's box and its caption.
constexpr int kSmallestFontPixels = 9;
constexpr int kCheckBoxTextGap = 4;

const ControlEntry& frameOf(const ControlEntry& control)
{
    return controlEntry(controlNamed(control.container));
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
        // Field captions are drawn by the window (field_caption.h).
        return {WC_STATICW,
                static_cast<DWORD>(
                    (control.setting == ControlSetting::FieldCaption ? SS_OWNERDRAW : SS_LEFT) |
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

bool hasCaption(const ControlEntry& control)
{
    return control.kind == ControlKind::Label || control.kind == ControlKind::CheckBox;
}

// Whether `text` fits the control's caption area in the font selected into
// `dc`, broken into lines as the control is drawn.
bool captionFits(HDC dc, const ControlEntry& control, std::wstring_view text, UINT dpi)
{
    const RECT place = controlRect(control, dpi);
    int width = place.right - place.left;
    const int height = place.bottom - place.top;
    if (control.kind == ControlKind::CheckBox) {
        width -= ::GetSystemMetricsForDpi(SM_CXMENUCHECK, dpi) +
                 ::MulDiv(kCheckBoxTextGap, static_cast<int>(dpi), USER_DEFAULT_SCREEN_DPI);
    }
    if (control.setting == ControlSetting::FieldCaption) {
        return fieldCaptionFits(dc, text, width, height);
    }
    RECT needed{0, 0, width, 0};
    ::DrawTextW(dc, text.data(), static_cast<int>(text.size()), &needed,
                DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS | DT_NOPREFIX);
    return needed.bottom <= height;
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

// Runs `annotate` on the system's annotation service for accessible
// properties; nothing without it.
template <typename Annotate> void withAnnotations(Annotate annotate)
{
    IAccPropServices* made = nullptr;
    if (SUCCEEDED(::CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_IAccPropServices, reinterpret_cast<void**>(&made)))) {
        const ComRef<IAccPropServices> services(made);
        annotate(*services.get());
    }
}

constexpr std::array<MSAAPROPID, 2> kPictureAnnotations = {PROPID_ACC_DESCRIPTION, PROPID_ACC_ROLE};
constexpr auto kClientArea = static_cast<DWORD>(OBJID_CLIENT);

// The guide picture draws its focus itself, so it must be drawn again when
// the focus comes or goes, or when the keyboard cues are shown or hidden.
constexpr const wchar_t* kStaticProcedureProperty = L"kqgetStaticProcedure";

LRESULT CALLBACK pictureProcedure(HWND picture, UINT message, WPARAM wParam, LPARAM lParam)
{
    const auto staticProcedure =
        reinterpret_cast<WNDPROC>(::GetPropW(picture, kStaticProcedureProperty));
    switch (message) {
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
    case WM_UPDATEUISTATE:
        ::InvalidateRect(picture, nullptr, FALSE);
        break;
    case WM_DESTROY:
        // The annotations outlive the window unless taken back.
        withAnnotations([picture](IAccPropServices& services) {
            services.ClearHwndProps(picture, kClientArea, CHILDID_SELF, kPictureAnnotations.data(),
                                    static_cast<int>(kPictureAnnotations.size()));
        });
        break;
    case WM_NCDESTROY:
        ::SetWindowLongPtrW(picture, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(staticProcedure));
        ::RemovePropW(picture, kStaticProcedureProperty);
        break;
    default:
        break;
    }
    return ::CallWindowProcW(staticProcedure, picture, message, wParam, lParam);
}

// What a screen reader says of the guide picture, which has no caption: its
// text is its name (an owner-drawn static never draws it), and its role and
// description are annotated.
void describePicture(HWND picture)
{
    if (!::SetWindowTextW(picture, toWide(kGuidePictureName).c_str())) {
        failWithLastError("the name of the guide picture cannot be set");
    }
    withAnnotations([picture](IAccPropServices& services) {
        services.SetHwndPropStr(picture, kClientArea, CHILDID_SELF, PROPID_ACC_DESCRIPTION,
                                toWide(kGuidePictureDescription).c_str());
        VARIANT role{};
        role.vt = VT_I4;
        role.lVal = ROLE_SYSTEM_GRAPHIC;
        services.SetHwndProp(picture, kClientArea, CHILDID_SELF, PROPID_ACC_ROLE, role);
    });
}

} // namespace

int win32ControlId(Control control)
{
    return kFirstControlId + static_cast<int>(control);
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
        m_view->add(control.control, child);
    }
    // A frame is drawn beneath the controls inside it; frames take no focus,
    // so moving them to the back leaves the tab order as it is.
    constexpr UINT kOrderOnly = SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE;
    for (const ControlEntry& control : kControlTable) {
        if (control.kind == ControlKind::Frame) {
            ::SetWindowPos(this->control(control.control), HWND_BOTTOM, 0, 0, 0, 0, kOrderOnly);
        }
    }
    // A screen reader names a field by the static just before it among the
    // window's children; captions take no focus, so this too leaves the tab
    // order as it is.
    for (const FieldCaption& pair : kFieldCaptions) {
        HWND caption = this->control(pair.caption);
        HWND before = ::GetWindow(this->control(pair.field), GW_HWNDPREV);
        if (before != caption) {
            ::SetWindowPos(caption, before != nullptr ? before : HWND_TOP, 0, 0, 0, 0, kOrderOnly);
        }
    }
    HWND picture = this->control(Control::Picture);
    describePicture(picture);
    const LONG_PTR staticProcedure = ::GetWindowLongPtrW(picture, GWLP_WNDPROC);
    if (!::SetPropW(picture, kStaticProcedureProperty, reinterpret_cast<HANDLE>(staticProcedure))) {
        failWithLastError("the guide picture cannot be watched for its focus");
    }
    ::SetWindowLongPtrW(picture, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(pictureProcedure));
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
    const bool fit =
        std::all_of(kControlTable.begin(), kControlTable.end(), [&](const ControlEntry& control) {
            return !hasCaption(control) ||
                   captionFits(dc.get(), control, windowText(this->control(control.control)), dpi);
        });
    ::SelectObject(dc.get(), previous);
    return fit;
}

void Win32MainWindow::applyDpi(UINT dpi)
{
    m_font = layoutFont(dpi);
    for (const ControlEntry& control : kControlTable) {
        const RECT place = controlRect(control, dpi);
        HWND child = this->control(control.control);
        ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(m_font.get()), FALSE);
        ::MoveWindow(child, place.left, place.top, place.right - place.left,
                     place.bottom - place.top, TRUE);
    }
}

} // namespace kqget

// The Win32 binding on real HWNDs (under Wine, on a display of its own): the
// controls the table lists, the Tab key's order, and the clicks reaching the
// window's logic. What the handlers do is tested without a toolkit.
#include "app/control_table.h"
#include "app/win32/gdiplus_session.h"
#include "app/win32/win32_main_window.h"
#include "app/window_texts.h"
#include "platform/native_ports.h"
#include "platform/win32/wide_text.h"
#include "tests/support/card_service_proxy.h"
#include "tests/support/temp_dir.h"
#include "tests/support/win32/own_desktop.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace kqget {
namespace {

class RecordedBoxes final : public Win32MessageBoxes
{
public:
    void showFailure(HWND, int number, std::string_view description) override
    {
        shown.push_back("Error " + std::to_string(number) + ": " + std::string(description));
    }
    void showNotice(HWND, std::string_view text) override { shown.emplace_back(text); }

    std::vector<std::string> shown;
};

class Win32MainWindowTest : public ::testing::Test
{
protected:
    Win32MainWindowTest() { window.show(SW_SHOWNORMAL); }

    static void SetUpTestSuite()
    {
        desktop = std::make_unique<testing::OwnDesktop>(L"kqget-window-test");
    }

    HWND item(Control control) const
    {
        return ::GetDlgItem(window.handle(), win32ControlId(control));
    }
    HWND item(std::string_view name) const { return item(controlNamed(name)); }
    std::string text(std::string_view name) const
    {
        std::wstring wide(512, L'\0');
        wide.resize(static_cast<std::size_t>(
            ::GetWindowTextW(item(name), wide.data(), static_cast<int>(wide.size()))));
        return toUtf8(wide);
    }
    bool enabled(std::string_view name) const { return ::IsWindowEnabled(item(name)) != FALSE; }
    // A key pressed and let go on the control with the focus, through the
    // window's own message loop.
    void key(WPARAM virtualKey)
    {
        ::PostMessageW(::GetFocus(), WM_KEYDOWN, virtualKey, 1);
        ::PostMessageW(::GetFocus(), WM_KEYUP, virtualKey, 0xC0000001);
        window.processPendingEvents();
    }
    std::string focused() const
    {
        const int id = ::GetDlgCtrlID(::GetFocus());
        return id == 0 ? "" : std::string(kControlTable[id - win32ControlId(Control::Update)].name);
    }
    void click(std::string_view name) const { ::SendMessageW(item(name), BM_CLICK, 0, 0); }

    // The controls the Tab key visits, from the first, once round.
    std::vector<std::string> tabCycle() const
    {
        std::vector<std::string> names;
        HWND first = ::GetNextDlgTabItem(window.handle(), nullptr, FALSE);
        for (HWND at = first; at != nullptr && names.size() <= kControlTable.size();) {
            names.emplace_back(
                kControlTable[::GetDlgCtrlID(at) - win32ControlId(Control::Update)].name);
            at = ::GetNextDlgTabItem(window.handle(), at, FALSE);
            if (at == first) {
                break;
            }
        }
        return names;
    }

    static inline std::unique_ptr<testing::OwnDesktop> desktop;
    GdiplusSession gdiplus;
    RecordedBoxes boxes;
    testing::TempDir folder;
    std::unique_ptr<FileSystemPort> fileSystem = makeNativeFileSystem();
    Win32MainWindow window{
        ::GetModuleHandleW(nullptr), boxes, *fileSystem,
        [] { return makeNativeTransfer({.proxy = testing::cardServiceProxy()}); },
        (folder.path() / "run.log").string()};
};

TEST_F(Win32MainWindowTest, EveryControlOfTheTableIsThereWithItsTextPlaceAndTabOrder)
{
    for (const ControlEntry& control : kControlTable) {
        SCOPED_TRACE(std::string(control.name));
        ASSERT_NE(item(control.name), nullptr);
        if (control.name != "Label1" && control.name != "Label7" && control.name != "Picture1") {
            EXPECT_EQ(text(control.name), control.text);
        }
    }
    // What a screen reader names them by: the picture its own text, each field
    // the caption just before it among the window's children.
    EXPECT_EQ(text("Picture1"), kGuidePictureName);
    for (const FieldCaption& pair : kFieldCaptions) {
        EXPECT_EQ(::GetWindow(item(pair.field), GW_HWNDPREV), item(pair.caption))
            << controlName(pair.field);
    }
    EXPECT_EQ(text("Label1"),
              "Use the Picture below as a guide.\r\n"
              "open regedit: HKCU\\Software\\Brask\\mlun\\DLM\r\n"
              "copy the Values from key and username. store them in the boxes below");
    EXPECT_EQ(text("Label7").substr(0, 58),
              "  Open registry editor and gather the required values. Typ");

    // 96 dots per inch under the test's display: the table's pixels exactly.
    RECT client{};
    ::GetClientRect(window.handle(), &client);
    EXPECT_EQ(client.right, 882);
    EXPECT_EQ(client.bottom, 586);
    RECT text2{};
    ::GetWindowRect(item("Text2"), &text2);
    ::MapWindowPoints(nullptr, window.handle(), reinterpret_cast<POINT*>(&text2), 2);
    EXPECT_EQ(text2.left, (90 + 120) / 15); // inside Frame1
    EXPECT_EQ(text2.top, (6945 + 1110) / 15);

    const std::vector<std::string> ready = {"Picture1", "tKEY",  "tUSERNAME", "tDATA",
                                            "Text2",    "Text1", "Check1"};
    EXPECT_EQ(tabCycle(), ready);
    EXPECT_EQ(::GetFocus(), item("Picture1"));
}

TEST_F(Win32MainWindowTest, TheBoxTheUpdateAndTheResetButtonReachTheLogic)
{
    EXPECT_FALSE(enabled("Command1"));
    click("Check1");
    EXPECT_EQ(::SendMessageW(item("Check1"), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_TRUE(enabled("Command1"));
    EXPECT_EQ(tabCycle().front(), "Command1");
    click("Check1");
    EXPECT_FALSE(enabled("Command1"));
    click("Check1");

    // A run over a data folder without card folders: DONE ! at once.
    const std::wstring data = toWide(folder.folder());
    ::SetWindowTextW(item("tDATA"), data.c_str());
    click("Command1");
    EXPECT_EQ(text("Command1"), "DONE !");
    EXPECT_EQ(text("Text2"), "DONE !");
    EXPECT_FALSE(enabled("Check1"));
    EXPECT_TRUE(enabled("Command2"));

    click("Command2");
    EXPECT_EQ(text("Command1"), kUpdateCaption);
    EXPECT_FALSE(enabled("Command1"));
    EXPECT_EQ(::SendMessageW(item("Check1"), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_TRUE(enabled("Check1"));
    EXPECT_FALSE(enabled("Command2"));
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_NE(boxes.shown[0].find("no card folders (names starting with A to D) found in '" +
                                  folder.folder() + "'"),
              std::string::npos)
        << boxes.shown[0];

    // Closing the window with no run under way ends the program at once.
    ::SendMessageW(window.handle(), WM_CLOSE, 0, 0);
    EXPECT_EQ(window.exitStatus(), 0);
    MSG quit;
    EXPECT_TRUE(::PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

// With the keyboard alone: to the box, tick, to the update button, Enter, and
// the focus waits on RESET; Space there, and it waits on the box.
TEST_F(Win32MainWindowTest, TheKeyboardAloneRunsAndResetsAndTheFocusIsNeverLost)
{
    ::SetWindowTextW(item("tDATA"), toWide(folder.folder()).c_str());
    ASSERT_EQ(focused(), "Picture1");
    for (int field = 0; field < 6; ++field) {
        key(VK_TAB);
    }
    ASSERT_EQ(focused(), "Check1");
    key(VK_SPACE);
    EXPECT_TRUE(enabled("Command1"));
    key(VK_TAB);
    ASSERT_EQ(focused(), "Command1");
    key(VK_RETURN);
    EXPECT_EQ(text("Command1"), "DONE !");
    EXPECT_EQ(focused(), "Command2");
    key(VK_SPACE);
    EXPECT_EQ(text("Command1"), kUpdateCaption);
    EXPECT_FALSE(enabled("Command2"));
    EXPECT_EQ(focused(), "Check1");
}

// A failed run leaves its box and then the window as it was before the tick,
// every value typed still there.
TEST_F(Win32MainWindowTest, AFailureLeavesTheWindowReadyWithWhatWasTyped)
{
    const testing::TempDir data;
    data.makeFolder("A0001");
    const std::string missing = data.folder() + "missing\\";
    ::SetWindowTextW(item("tDATA"), toWide(missing).c_str());
    click("Check1");
    click("Command1");

    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].rfind("Error 10: ", 0), 0u) << boxes.shown[0];
    EXPECT_FALSE(window.exitStatus());
    EXPECT_TRUE(::IsWindowVisible(window.handle()));
    EXPECT_EQ(text("Command1"), kUpdateCaption);
    EXPECT_FALSE(enabled("Command1"));
    EXPECT_EQ(::SendMessageW(item("Check1"), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_TRUE(enabled("Check1"));
    EXPECT_FALSE(enabled("Command2"));
    EXPECT_EQ(text("tKEY"), "ABCDEFGHIJKLMNOPQR");
    EXPECT_EQ(text("tUSERNAME"), "USERNAME");
    EXPECT_EQ(text("tDATA"), missing);
}

// Closed while a fetch stalls, the window goes at once, and the run stops
// without waiting for the fetch: nothing is stored, the log is whole, and the
// program ends when the click's handler returns.
TEST_F(Win32MainWindowTest, ClosingTheWindowDuringAFetchStopsTheRunAndEndsTheProgram)
{
    const testing::TempDir data;
    data.makeFolder("A0001");
    ::SetWindowTextW(item("tDATA"), toWide(data.folder()).c_str());
    // The service holds back the body of replies to this user for seconds.
    ::SetWindowTextW(item("tUSERNAME"), L"stall.test");
    click("Check1");

    static decltype(this) self = nullptr;
    static bool lockedThroughout = false;
    self = this;
    const auto pressThenClose = [](HWND, UINT, UINT_PTR timer, DWORD) {
        ::KillTimer(nullptr, timer);
        // Presses on the locked controls change nothing.
        for (const std::string_view name : {"Command1", "Command2", "Check1"}) {
            self->click(name);
        }
        lockedThroughout = !self->enabled("Command1") && !self->enabled("Command2") &&
                           !self->enabled("Check1") &&
                           ::SendMessageW(self->item("Check1"), BM_GETCHECK, 0, 0) == BST_CHECKED;
        ::PostMessageW(self->window.handle(), WM_CLOSE, 0, 0);
    };
    ::SetTimer(nullptr, 0, 1000, pressThenClose);
    click("Command1");

    EXPECT_TRUE(lockedThroughout);
    EXPECT_EQ(window.exitStatus(), 0);
    MSG quit;
    EXPECT_TRUE(::PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_FALSE(::IsWindowVisible(window.handle()));
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_EQ(data.listing(), "A0001\n");
    EXPECT_EQ(testing::readFile(folder.path() / "run.log"),
              "A0001\r\n" + data.folder() + "A0001\\A0001.xml size 0\r\n");
}

} // namespace
} // namespace kqget

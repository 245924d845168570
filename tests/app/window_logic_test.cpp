// The window's behaviour that needs only a data folder and a plain service,
// the same on every system: under Wine too, against the service that the
// test run starts on the Linux side.

#include "tests/app/window_logic_fixture.h"
#include "tests/support/card_service_proxy.h"
#include "tests/support/expected_urls.h"

#include <chrono>
#include <filesystem>

namespace kqget::testing {

namespace {

using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

class WindowLogicTest : public WindowLogicFixture
{
protected:
    WindowLogicTest() : WindowLogicFixture(cardServiceProxy()) {}
};

TEST_F(WindowLogicTest, LoadWritesTheLabelsAndLeavesTheWindowReady)
{
    EXPECT_EQ(m_view.text(Control::Guide),
              "Use the Picture below as a guide.\r\n"
              "open regedit: HKCU\\Software\\Brask\\mlun\\DLM\r\n"
              "copy the Values from key and username. store them in the boxes below");
    EXPECT_EQ(m_view.text(Control::Instructions),
              "  Open registry editor and gather the required values. Type or copy them "
              "into the boxes.\r\n"
              "  Enter the path to your DATA folder and Make sure it ends with a \\ \r\n"
              "  This is a DUMB program and it relys on you filling in your correct info.\r\n"
              "  Make sure it is correct before you press the button.");
    EXPECT_EQ(m_logic.state(), WindowState::Ready);
    EXPECT_EQ(m_view.text(Control::Size), "0");
    EXPECT_EQ(m_view.text(Control::Status), "");
}

// The update button is on exactly while the box is ticked, whoever changed it.
TEST_F(WindowLogicTest, TheBoxDrivesTheUpdateButton)
{
    struct Case
    {
        const char* name;
        std::vector<std::string> steps; // "click", or the value the program sets
        std::optional<WindowState> state;
    };
    const std::vector<Case> cases = {
        {"click ticks", {"click"}, WindowState::Confirmed},
        {"click twice unticks", {"click", "click"}, WindowState::Ready},
        {"program ticks", {"1"}, WindowState::Confirmed},
        {"program unticks", {"click", "0"}, WindowState::Ready},
        {"grey", {"2"}, std::nullopt},
        {"ticked then grey", {"click", "2"}, std::nullopt},
        {"grey then ticked", {"2", "1"}, WindowState::Confirmed},
        {"many clicks", std::vector<std::string>(7, "click"), WindowState::Confirmed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_view.setCheckValue(Control::Confirm, CheckValue::Unticked);
        for (const std::string& step : c.steps) {
            if (step == "click") {
                press(Control::Confirm);
            } else {
                m_view.setCheckValue(Control::Confirm, static_cast<CheckValue>(std::stoi(step)));
            }
        }
        EXPECT_EQ(m_logic.state(), c.state);
        EXPECT_EQ(m_view.isEnabled(Control::Update),
                  m_view.checkValue(Control::Confirm) == CheckValue::Ticked);
    }
}

// Ready, Confirmed, Running, Done and back to Ready, by a user's clicks on a
// real run over an empty data folder.
TEST_F(WindowLogicTest, TheWindowGoesThroughEveryState)
{
    press(Control::Confirm);
    EXPECT_EQ(m_logic.state(), WindowState::Confirmed);
    press(Control::Confirm);
    EXPECT_EQ(m_logic.state(), WindowState::Ready);

    // Seen from inside the run, at each processing of events: presses on the
    // locked controls change nothing.
    std::vector<std::optional<WindowState>> during;
    m_view.onEvents = [&] {
        if (m_logic.state() == WindowState::Done) {
            return; // the end shown, where the reset button is meant to work
        }
        for (const Control control : {Control::Update, Control::Reset, Control::Confirm}) {
            press(control);
        }
        during.push_back(m_logic.state());
    };
    startRun();
    m_view.onEvents = nullptr;
    ASSERT_THAT(during, Not(IsEmpty()));
    EXPECT_THAT(during, Each(WindowState::Running));

    EXPECT_EQ(m_logic.state(), WindowState::Done);
    EXPECT_EQ(m_view.text(Control::Status), "DONE !");
    EXPECT_EQ(m_view.text(Control::DataFolder), m_data.folder());
    EXPECT_EQ(log(), "");
    EXPECT_THAT(m_view.failures, IsEmpty());
    // An empty log and "DONE !" alone would pass a mistyped folder for a
    // library with nothing to repair.
    EXPECT_THAT(m_view.notices, ElementsAre(HasSubstr("no card folders (names starting with A to "
                                                      "D) found in '" +
                                                      m_data.folder() + "'")));
    EXPECT_THAT(m_view.endings, IsEmpty());
    EXPECT_EQ(m_view.focus, Control::Reset);

    // The reset leaves what the run wrote; a second run needs the box ticked again.
    const std::vector<std::string> before = untouchedTexts();
    press(Control::Reset);
    EXPECT_EQ(m_logic.state(), WindowState::Ready);
    EXPECT_EQ(m_view.focus, Control::Confirm);
    EXPECT_EQ(untouchedTexts(), before);
    press(Control::Update);
    EXPECT_EQ(m_logic.state(), WindowState::Ready);
    press(Control::Confirm);
    EXPECT_EQ(m_logic.state(), WindowState::Confirmed);
}

// The window outlives the failure: the folder corrected, the next run repairs.
TEST_F(WindowLogicTest, WithoutItsDataFolderARunFails)
{
    m_data.makeFolder("A0001");
    runOn(m_data.folder() + "missing");
    expectFailure(10, (m_data.path() / "missing" / "").string(), "A0001\n");
    EXPECT_EQ(m_view.text(Control::DataFolder), (m_data.path() / "missing" / "").string());

    m_view.setText(Control::DataFolder, m_data.folder());
    startRun();
    EXPECT_EQ(m_logic.state(), WindowState::Done);
    EXPECT_EQ(m_view.failures.size(), 1u);
    EXPECT_EQ(m_data.listing(), "A0001\nA0001/A0001.xml\nA0001/A0001_full.png\n");

    // The run before's "DONE !" does not stand under the next one's failure.
    EXPECT_EQ(m_view.text(Control::Status), "DONE !");
    runOn(m_data.folder() + "missing");
    EXPECT_EQ(m_view.failures.size(), 2u);
    EXPECT_EQ(m_view.text(Control::Status), "");

    // A Windows path stays as typed, '\' appended; where it was looked for is
    // told beside it (on Linux, in the Wine prefix).
    runOn(R"(C:\absent\Data)");
    ASSERT_EQ(m_view.failures.size(), 3u);
    EXPECT_EQ(m_view.failures[2].first, 10);
    EXPECT_THAT(m_view.failures[2].second, HasSubstr(R"('C:\absent\Data\')"));
    EXPECT_EQ(m_view.text(Control::DataFolder), R"(C:\absent\Data\)");
}

// An empty key or user name is refused before the log is replaced or anything
// is sent, and the window waits for the value.
TEST_F(WindowLogicTest, AnEmptyKeyOrUserNameIsRefusedBeforeAnythingIsWritten)
{
    struct Case
    {
        const char* name;
        Control field;
        std::string typed;
        std::string_view box;
    };
    const std::vector<Case> cases = {
        {"a key of spaces", Control::Key, "   ", kEmptyKeyText},
        {"no user name", Control::UserName, "", kEmptyUserNameText},
    };
    m_data.makeFolder("A0001");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string kept = m_view.text(c.field);
        m_view.setText(c.field, c.typed);
        m_view.notices.clear();
        startRun();

        EXPECT_THAT(m_view.notices, ElementsAre(c.box));
        EXPECT_EQ(m_logic.state(), WindowState::Ready);
        EXPECT_EQ(m_view.text(c.field), c.typed);
        EXPECT_FALSE(std::filesystem::exists(m_logPath));
        EXPECT_EQ(m_data.listing(), "A0001\n");
        EXPECT_THAT(m_view.failures, IsEmpty());
        EXPECT_THAT(m_view.endings, IsEmpty());
        m_view.setText(c.field, kept);
    }
}

// Every file fetched whole: "DONE !" with nothing to tell.
TEST_F(WindowLogicTest, ACompleteRunEndsWithoutANotice)
{
    m_data.makeFolder("A0001");
    m_data.makeFolder("A0002");
    runOn(m_data.folder());

    EXPECT_EQ(m_logic.state(), WindowState::Done);
    EXPECT_THAT(m_view.failures, IsEmpty());
    EXPECT_THAT(m_view.endings, IsEmpty());
    EXPECT_THAT(m_view.notices, IsEmpty());
    EXPECT_EQ(m_data.listing(), "A0001\nA0001/A0001.xml\nA0001/A0001_full.png\n"
                                "A0002\nA0002/A0002.xml\nA0002/A0002_full.png\n");
}

// Every processing of events asked for is made, so that each change shows.
class WindowLogicWritesTest : public WindowLogicFixture
{
protected:
    WindowLogicWritesTest() : WindowLogicFixture(cardServiceProxy(), std::chrono::milliseconds(0))
    {}
};

// A run locks the window, mirrors each sizing and fetch, and ends in "DONE !",
// each change shown before the next, in the order the run made them.
TEST_F(WindowLogicWritesTest, WritesTheWindowInTheRunsOrder)
{
    m_data.makeFolder("A1");
    press(Control::Confirm);
    m_view.writes.clear();
    press(Control::Update);

    const auto sizeOf = [this](std::string_view file) {
        return std::to_string(std::filesystem::file_size(m_data.path() / "A1" / file));
    };
    EXPECT_THAT(m_view.writes,
                ElementsAre("Command1.Enabled=false", "Check1.Enabled=false",
                            "Text2.Text=", "events", "tDATA.Text=" + m_data.folder(),
                            "events",                 // separator appended
                            "Text1.Text=0", "events", // XML sized
                            "Text2.Text=Get " + configuredInfoUrl("A1", "…", "user"),
                            "events",                                   // XML fetched
                            "Text1.Text=" + sizeOf("A1.xml"), "events", // XML re-sized
                            "Text1.Text=0", "events",                   // illustration sized
                            "Text2.Text=Get " + configuredImageUrl("A1"), "events", // fetched
                            "Text1.Text=" + sizeOf("A1_full.png"), "events", "Text2.Text=DONE !",
                            "Command1.Caption=DONE !", "Command2.Enabled=true", "events",
                            "Command2.Focus"));
    EXPECT_THAT(m_view.writes, Each(Not(HasSubstr("KEY1"))));
    EXPECT_THAT(log(), HasSubstr(configuredInfoUrl("A1", "KEY1", "user")));
}

} // namespace

} // namespace kqget::testing

// The window's behaviour with no toolkit: its handlers drive a view that keeps
// the controls' properties in memory, while the runs go to a real data folder
// and the stand-in card service over real HTTP.

#include "app/control_table.h"
#include "app/window_logic.h"
#include "platform/curl_transfer.h"
#include "platform/local_file_system.h"
#include "tests/support/scoped_environment.h"
#include "tests/support/temp_dir.h"
#include "tools/card-service/card_service.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kqget::testing {

namespace {

using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

template <typename Map> auto& at(Map& map, std::string_view control)
{
    const auto found = map.find(control);
    if (found == map.end()) {
        throw std::logic_error("no control " + std::string(control));
    }
    return found->second;
}

// The controls as the table creates them, before the load handler.
class FakeView final : public WindowView
{
public:
    FakeView()
    {
        for (const ControlSpec& control : kControlTable) {
            m_texts.emplace(control.name, control.text);
            m_enabled.emplace(control.name, control.setting != ControlSetting::Disabled);
        }
    }

    std::string text(std::string_view control) const override { return at(m_texts, control); }
    void setText(std::string_view control, std::string_view text) override
    {
        at(m_texts, control) = text;
    }
    bool isEnabled(std::string_view control) const override { return at(m_enabled, control); }
    void setEnabled(std::string_view control, bool enabled) override
    {
        at(m_enabled, control) = enabled;
    }
    CheckValue checkValue(std::string_view) const override { return m_check; }
    void setCheckValue(std::string_view, CheckValue value) override
    {
        m_check = value;
        boxClicked(); // as the platform raises the box's click for a program's change
    }
    void processPendingEvents() override
    {
        if (onEvents) {
            onEvents();
        }
    }
    void showFailure(int number, std::string_view description) override
    {
        failures.emplace_back(number, description);
    }
    void showNotice(std::string_view notice) override
    {
        notices.emplace_back(notice);
        statusAtNotice = text(controls::kStatus);
    }
    void endProgram(int exitStatus) override { endings.push_back(exitStatus); }

    std::function<void()> boxClicked;
    std::function<void()> onEvents;
    std::vector<std::pair<int, std::string>> failures;
    std::vector<std::string> notices;
    std::string statusAtNotice;
    std::vector<int> endings;

private:
    std::map<std::string, std::string, std::less<>> m_texts;
    std::map<std::string, bool, std::less<>> m_enabled;
    CheckValue m_check = CheckValue::Unticked;
};

class WindowLogicTest : public ::testing::Test
{
protected:
    WindowLogicTest()
    {
        m_view.boxClicked = [this] { m_logic.confirmClicked(); };
        m_logic.load();
        m_view.setText(controls::kKey, " KEY1  ");
        m_view.setText(controls::kUserName, "user");
        m_view.setText(controls::kDataFolder, m_data.path().string());
    }

    // What a user's press or click does: nothing on a disabled control.
    void press(std::string_view control)
    {
        if (!m_view.isEnabled(control)) {
            return;
        }
        if (control == controls::kConfirm) {
            const bool ticked = m_view.checkValue(control) == CheckValue::Ticked;
            m_view.setCheckValue(control, ticked ? CheckValue::Unticked : CheckValue::Ticked);
        } else if (control == controls::kUpdate) {
            m_logic.updateClicked();
        } else if (control == controls::kReset) {
            m_logic.resetClicked();
        }
    }
    void startRun()
    {
        press(controls::kConfirm);
        press(controls::kUpdate);
    }

    std::vector<std::string> untouchedTexts() const
    {
        std::vector<std::string> texts;
        for (const std::string_view name :
             {controls::kKey, controls::kUserName, controls::kDataFolder, controls::kSize,
              controls::kStatus, controls::kGuide, controls::kInstructions}) {
            texts.push_back(m_view.text(name));
        }
        return texts;
    }

    std::string log() const { return readFile(m_logPath); }

    NoProxyEnvironment m_noProxy;
    CardService m_service;
    ScopedEnvironment m_proxy{"http_proxy", m_service.baseUrl()};
    TempDir m_work;
    TempDir m_data;
    std::string m_logPath = (m_work.path() / "KQ-GET-PNG-XML.txt").string();
    FakeView m_view;
    LocalFileSystem m_fileSystem;
    WindowLogic m_logic{m_view, m_fileSystem, [] { return std::make_unique<CurlTransfer>(); },
                        m_logPath};
};

TEST_F(WindowLogicTest, LoadWritesTheLabelsAndLeavesTheWindowReady)
{
    EXPECT_EQ(m_view.text("Label1"),
              "Use the Picture below as a guide.\r\n"
              "open regedit: HKCU\\Software\\Brask\\mlun\\DLM\r\n"
              "copy the Values from key and username. store them in the boxes below");
    EXPECT_EQ(m_view.text("Label7"),
              "  Open registry editor and gather the required values. Type or copy them "
              "into the boxes.\r\n"
              "  Enter the path to your DATA folder and Make sure it ends with a \\ \r\n"
              "  This is a DUMB program and it relys on you filling in your correct info.\r\n"
              "  Make sure it is correct before you press the button.");
    EXPECT_EQ(m_logic.state(), WindowState::Ready);
    EXPECT_EQ(m_view.text("Text1"), "0");
    EXPECT_EQ(m_view.text("Text2"), "");
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
        m_view.setCheckValue(controls::kConfirm, CheckValue::Unticked);
        for (const std::string& step : c.steps) {
            if (step == "click") {
                press(controls::kConfirm);
            } else {
                m_view.setCheckValue(controls::kConfirm, static_cast<CheckValue>(std::stoi(step)));
            }
        }
        EXPECT_EQ(m_logic.state(), c.state);
        EXPECT_EQ(m_view.isEnabled(controls::kUpdate),
                  m_view.checkValue(controls::kConfirm) == CheckValue::Ticked);
    }
}

// Ready, Confirmed, Running, Done and back to Ready, by a user's clicks on a
// real run over an empty data folder.
TEST_F(WindowLogicTest, TheWindowGoesThroughEveryState)
{
    press(controls::kConfirm);
    EXPECT_EQ(m_logic.state(), WindowState::Confirmed);
    press(controls::kConfirm);
    EXPECT_EQ(m_logic.state(), WindowState::Ready);

    // Seen from inside the run, at each processing of events: presses on the
    // locked controls change nothing.
    std::vector<std::optional<WindowState>> during;
    m_view.onEvents = [&] {
        for (const std::string_view control :
             {controls::kUpdate, controls::kReset, controls::kConfirm}) {
            press(control);
        }
        during.push_back(m_logic.state());
    };
    startRun();
    m_view.onEvents = nullptr;
    ASSERT_THAT(during, Not(IsEmpty()));
    EXPECT_THAT(during, Each(WindowState::Running));

    EXPECT_EQ(m_logic.state(), WindowState::Done);
    EXPECT_EQ(m_view.text("Text2"), "DONE !");
    EXPECT_EQ(m_view.text("tDATA"), m_data.folder());
    EXPECT_EQ(log(), "");
    EXPECT_THAT(m_view.failures, IsEmpty());
    EXPECT_THAT(m_view.notices, IsEmpty());
    EXPECT_THAT(m_view.endings, IsEmpty());

    // The reset leaves what the run wrote; a second run needs the box ticked again.
    const std::vector<std::string> before = untouchedTexts();
    press(controls::kReset);
    EXPECT_EQ(m_logic.state(), WindowState::Ready);
    EXPECT_EQ(untouchedTexts(), before);
    press(controls::kUpdate);
    EXPECT_EQ(m_logic.state(), WindowState::Ready);
    press(controls::kConfirm);
    EXPECT_EQ(m_logic.state(), WindowState::Confirmed);
}

// A failure is shown with its number, with the key hidden, and ends the
// program; the log has whole lines and no card file is half-written.
TEST_F(WindowLogicTest, AFailureIsReportedAndEndsTheProgram)
{
    struct Case
    {
        const char* name;
        std::string dataFolder; // below the data folder; empty: the folder itself
        std::string faultOn;    // dropped mid-body; empty: none
        int number;
        std::string named;
        std::string listing; // of the data folder afterwards
    };
    // In this order: the card information stored in the last case is not
    // fetched again.
    const std::vector<Case> cases = {
        {"no data folder", "missing", "", 10, "missing/", "A0001\n"},
        {"dropped card information", "", "cardids=A0001", 40, "mlunkey=…", "A0001\n"},
        {"dropped illustration", "", "A0001_full.png", 40, "A0001_full.png",
         "A0001\nA0001/A0001.xml\n"},
    };
    m_data.makeFolder("A0001");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_view.failures.clear();
        m_view.endings.clear();
        m_service.clearFaults();
        if (!c.faultOn.empty()) {
            Fault dropped;
            dropped.dropMidBody = true;
            m_service.addFault(c.faultOn, dropped);
        }
        m_view.setText(controls::kDataFolder, m_data.folder() + c.dataFolder);
        m_logic.resetClicked();
        startRun();

        ASSERT_EQ(m_view.failures.size(), 1u);
        EXPECT_EQ(m_view.failures[0].first, c.number);
        EXPECT_THAT(m_view.failures[0].second, HasSubstr(c.named));
        EXPECT_THAT(m_view.failures[0].second, Not(HasSubstr("KEY1")));
        EXPECT_THAT(m_view.endings, ElementsAre(2));
        EXPECT_THAT(m_view.notices, IsEmpty());
        EXPECT_EQ(m_data.listing(), c.listing);
        EXPECT_TRUE(log().empty() || log().ends_with("\r\n")) << log();
    }
}

// After "DONE !" the user learns which files the next run fetches again.
TEST_F(WindowLogicTest, TheEndOfARunTellsWhatIsLeft)
{
    Fault notFound;
    notFound.status = 404;
    Fault empty;
    empty.emptyBody = true;
    struct Case
    {
        const char* name;
        int cards;
        std::string faultOn; // empty: none
        Fault fault;
        std::vector<std::string> shown; // empty: no notice
        std::vector<std::string> notShown;
    };
    const std::string image = "/free/sets/";
    const std::vector<Case> cases = {
        {"every file whole", 2, "", {}, {}, {}},
        {"an illustration not stored",
         2,
         "A0001_full.png",
         notFound,
         {"1 file is not repaired", "A0001/illustrations/A0001_full.png (not stored: HTTP 404)"},
         {"A0002"}},
        {"card information not stored, key hidden",
         1,
         "cardids=A0001",
         notFound,
         {"1 file is not repaired", "mlunkey=…&mlunusername=user&cardids=A0001"},
         {"KEY1"}},
        {"stored but still too small",
         1,
         "A0001_full.png",
         empty,
         {"1 file is not repaired", "A0001_full.png (0 bytes: still too small)"},
         {}},
        {"the first five of many",
         7,
         "_full.png",
         notFound,
         {"7 files are not repaired", "A0005_full.png", "and 2 more"},
         {"A0006"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TempDir data;
        for (int card = 1; card <= c.cards; ++card) {
            data.makeFolder("A000" + std::to_string(card));
        }
        m_service.clearFaults();
        if (!c.faultOn.empty()) {
            m_service.addFault(c.faultOn, c.fault);
        }
        m_view.notices.clear();
        m_view.setText(controls::kDataFolder, data.folder());
        m_logic.resetClicked();
        startRun();

        EXPECT_EQ(m_logic.state(), WindowState::Done);
        EXPECT_THAT(m_view.failures, IsEmpty());
        EXPECT_THAT(m_view.endings, IsEmpty());
        if (c.shown.empty()) {
            EXPECT_THAT(m_view.notices, IsEmpty());
            continue;
        }
        ASSERT_EQ(m_view.notices.size(), 1u);
        EXPECT_EQ(m_view.statusAtNotice, "DONE !");
        const std::string& notice = m_view.notices[0];
        for (const std::string& text : c.shown) {
            EXPECT_THAT(notice, HasSubstr(text));
        }
        for (const std::string& text : c.notShown) {
            EXPECT_THAT(notice, Not(HasSubstr(text)));
        }
        EXPECT_THAT(notice, HasSubstr("The log lists them all: " + m_logPath));
    }
}

} // namespace

} // namespace kqget::testing

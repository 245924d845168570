#pragma once

// The window's behaviour with no toolkit: its handlers drive a view that keeps
// the controls' properties in memory, while the runs go to a real data folder
// and the stand-in card service over real HTTP, with the system's own file
// system and transfer.

#include "app/control_table.h"
#include "app/window_logic.h"
#include "app/window_texts.h"
#include "platform/native_ports.h"
#include "tests/support/temp_dir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kqget::testing {

// The controls as the table creates them, before the load handler.
class FakeView final : public WindowView
{
public:
    FakeView()
    {
        for (const ControlEntry& control : kControlTable) {
            m_texts.emplace(control.control, control.text);
            m_enabled.emplace(control.control, control.setting != ControlSetting::Disabled);
        }
    }

    std::string text(Control control) const override { return m_texts.at(control); }
    void setText(Control control, std::string_view text) override
    {
        const bool field = controlEntry(control).kind == ControlKind::TextBox;
        record(control, field ? ".Text=" : ".Caption=", text);
        m_texts.at(control) = text;
    }
    bool isEnabled(Control control) const override { return m_enabled.at(control); }
    void setEnabled(Control control, bool enabled) override
    {
        record(control, ".Enabled=", enabled ? "true" : "false");
        m_enabled.at(control) = enabled;
    }
    void setFocus(Control control) override
    {
        if (!m_enabled.at(control)) {
            throw std::logic_error("focus given to the disabled " +
                                   std::string(controlName(control)));
        }
        record(control, ".Focus", "");
        focus = control;
    }
    CheckValue checkValue(Control) const override { return m_check; }
    void setCheckValue(Control control, CheckValue value) override
    {
        record(control, ".Value=", std::to_string(static_cast<int>(value)));
        m_check = value;
        boxClicked(); // as the platform raises the box's click for a program's change
    }
    void processPendingEvents() override
    {
        // However often a wait for a fetch asks: what counts is that each
        // change is shown before the next.
        if (!writes.empty() && writes.back() != "events") {
            writes.emplace_back("events");
        }
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
        statusAtNotice = text(Control::Status);
        if (onNotice) {
            onNotice();
        }
    }
    void endProgram(int exitStatus) override { endings.push_back(exitStatus); }

    std::optional<Control> focus; // the control last given the focus
    std::function<void()> boxClicked;
    std::function<void()> onEvents;
    std::function<void()> onNotice; // while the notice is up
    std::vector<std::pair<int, std::string>> failures;
    std::vector<std::string> notices;
    std::string statusAtNotice;
    std::vector<int> endings;
    // Every change to a control, by its name, e.g. "Text1.Text=12"; "events"
    // where the window processed its events after one.
    std::vector<std::string> writes;

private:
    void record(Control control, std::string_view property, std::string_view value)
    {
        writes.push_back(std::string(controlName(control)).append(property).append(value));
    }

    std::map<Control, std::string> m_texts;
    std::map<Control, bool> m_enabled;
    CheckValue m_check = CheckValue::Unticked;
};

// The window loaded and filled in, its fetches going through `serviceProxy`.
class WindowLogicFixture : public ::testing::Test
{
protected:
    explicit WindowLogicFixture(std::string serviceProxy, std::chrono::milliseconds eventInterval =
                                                              WindowLogic::kDefaultEventInterval)
        : m_serviceProxy(std::move(serviceProxy)), m_eventInterval(eventInterval)
    {
        m_view.boxClicked = [this] { m_logic.confirmClicked(); };
        m_logic.load();
        m_view.setText(Control::Key, " KEY1  ");
        m_view.setText(Control::UserName, "user");
        m_view.setText(Control::DataFolder, m_data.path().string());
    }

    // What a user's press or click does: nothing on a disabled control.
    void press(Control control)
    {
        if (!m_view.isEnabled(control)) {
            return;
        }
        if (control == Control::Confirm) {
            const bool ticked = m_view.checkValue(control) == CheckValue::Ticked;
            m_view.setCheckValue(control, ticked ? CheckValue::Unticked : CheckValue::Ticked);
        } else if (control == Control::Update) {
            m_logic.updateClicked();
        } else if (control == Control::Reset) {
            m_logic.resetClicked();
        }
    }
    void startRun()
    {
        press(Control::Confirm);
        press(Control::Update);
    }
    // A fresh run over `dataFolder`, as after the reset button.
    void runOn(const std::string& dataFolder)
    {
        m_view.setText(Control::DataFolder, dataFolder);
        m_logic.resetClicked();
        startRun();
    }

    // The run just made failed with `number`, shown with the key hidden; the
    // window is Ready again with every value as typed, the key nowhere on
    // screen; the log has whole lines and no card file is half-written.
    void expectFailure(int number, std::string_view named, std::string_view listing) const
    {
        ASSERT_EQ(m_view.failures.size(), 1u);
        EXPECT_EQ(m_view.failures[0].first, number);
        EXPECT_THAT(m_view.failures[0].second, ::testing::HasSubstr(named));
        EXPECT_THAT(m_view.failures[0].second, ::testing::Not(::testing::HasSubstr("KEY1")));
        EXPECT_THAT(m_view.endings, ::testing::IsEmpty());
        EXPECT_EQ(m_logic.state(), WindowState::Ready);
        EXPECT_EQ(m_view.text(Control::Update), kUpdateCaption);
        EXPECT_EQ(m_view.text(Control::Key), " KEY1  ");
        EXPECT_EQ(m_view.text(Control::UserName), "user");
        EXPECT_THAT(m_view.text(Control::Status), ::testing::Not(::testing::HasSubstr("KEY1")));
        EXPECT_THAT(m_view.notices, ::testing::IsEmpty());
        EXPECT_EQ(m_data.listing(), listing);
        EXPECT_TRUE(log().empty() || log().ends_with("\r\n")) << log();
    }

    std::vector<std::string> untouchedTexts() const
    {
        std::vector<std::string> texts;
        for (const Control control :
             {Control::Key, Control::UserName, Control::DataFolder, Control::Size, Control::Status,
              Control::Guide, Control::Instructions}) {
            texts.push_back(m_view.text(control));
        }
        return texts;
    }

    std::string log() const { return readFile(m_logPath); }

    std::string m_serviceProxy;
    std::chrono::milliseconds m_eventInterval;
    TempDir m_work;
    TempDir m_data;
    std::string m_logPath = (m_work.path() / "KQ-GET-PNG-XML.txt").string();
    FakeView m_view;
    std::unique_ptr<FileSystemPort> m_fileSystem = makeNativeFileSystem();
    WindowLogic m_logic{m_view,
                        *m_fileSystem,
                        [this] { return makeNativeTransfer({.proxy = m_serviceProxy}); },
                        m_logPath,
                        ServiceBases::configured().hosts(),
                        m_eventInterval};
};

} // namespace kqget::testing

#pragma once

// The window's behaviour with no toolkit: its handlers drive a view that keeps
// the controls' properties in memory, while the runs go to a real data folder
// and the stand-in card service over real HTTP, with the system's own file
// system and transfer.

#include "app/control_table.h"
#include "app/window_logic.h"
#include "platform/native_ports.h"
#include "tests/support/temp_dir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace kqget::testing {

template <typename Map> auto& controlIn(Map& map, std::string_view control)
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
        for (const ControlEntry& control : kControlTable) {
            m_texts.emplace(control.name, control.text);
            m_enabled.emplace(control.name, control.setting != ControlSetting::Disabled);
        }
    }

    std::string text(std::string_view control) const override
    {
        return controlIn(m_texts, control);
    }
    void setText(std::string_view control, std::string_view text) override
    {
        controlIn(m_texts, control) = text;
    }
    bool isEnabled(std::string_view control) const override
    {
        return controlIn(m_enabled, control);
    }
    void setEnabled(std::string_view control, bool enabled) override
    {
        controlIn(m_enabled, control) = enabled;
    }
    void setFocus(std::string_view control) override
    {
        if (!controlIn(m_enabled, control)) {
            throw std::logic_error("focus given to the disabled " + std::string(control));
        }
        focus = control;
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
        if (onNotice) {
            onNotice();
        }
    }
    void endProgram(int exitStatus) override { endings.push_back(exitStatus); }

    std::string focus; // the control last given the focus
    std::function<void()> boxClicked;
    std::function<void()> onEvents;
    std::function<void()> onNotice; // while the notice is up
    std::vector<std::pair<int, std::string>> failures;
    std::vector<std::string> notices;
    std::string statusAtNotice;
    std::vector<int> endings;

private:
    std::map<std::string, std::string, std::less<>> m_texts;
    std::map<std::string, bool, std::less<>> m_enabled;
    CheckValue m_check = CheckValue::Unticked;
};

// The window loaded and filled in, its fetches going through `serviceProxy`.
class WindowLogicFixture : public ::testing::Test
{
protected:
    explicit WindowLogicFixture(std::string serviceProxy) : m_serviceProxy(std::move(serviceProxy))
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
    // A fresh run over `dataFolder`, as after the reset button.
    void runOn(const std::string& dataFolder)
    {
        m_view.setText(controls::kDataFolder, dataFolder);
        m_logic.resetClicked();
        startRun();
    }

    // The run just made failed with `number`, shown with the key hidden, and
    // ended the program; the log has whole lines and no card file is
    // half-written.
    void expectFailure(int number, std::string_view named, std::string_view listing) const
    {
        ASSERT_EQ(m_view.failures.size(), 1u);
        EXPECT_EQ(m_view.failures[0].first, number);
        EXPECT_THAT(m_view.failures[0].second, ::testing::HasSubstr(named));
        EXPECT_THAT(m_view.failures[0].second, ::testing::Not(::testing::HasSubstr("KEY1")));
        EXPECT_THAT(m_view.endings, ::testing::ElementsAre(2));
        EXPECT_THAT(m_view.notices, ::testing::IsEmpty());
        EXPECT_EQ(m_data.listing(), listing);
        EXPECT_TRUE(log().empty() || log().ends_with("\r\n")) << log();
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

    std::string m_serviceProxy;
    TempDir m_work;
    TempDir m_data;
    std::string m_logPath = (m_work.path() / "KQ-GET-PNG-XML.txt").string();
    FakeView m_view;
    std::unique_ptr<FileSystemPort> m_fileSystem = makeNativeFileSystem();
    WindowLogic m_logic{m_view, *m_fileSystem,
                        [this] { return makeNativeTransfer({.proxy = m_serviceProxy}); },
                        m_logPath};
};

} // namespace kqget::testing

#pragma once

#include "app/error_report.h"
#include "app/main_window.h"

#include <QString>
#include <QWidget>

#include <string_view>
#include <vector>

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace kqget::testing {

// The control of `window` with that name; fails the test when there is none.
template <typename Widget> Widget* control(QWidget& window, std::string_view name)
{
    return window.findChild<Widget*>(QString::fromLatin1(name.data(), name.size()));
}

// The properties that make up the window's state.
struct WindowState
{
    bool updateEnabled;
    QString updateCaption;
    int confirmValue; // 0 unticked, 1 ticked, 2 grey
    bool confirmEnabled;
    bool resetEnabled;

    bool operator==(const WindowState&) const = default;
};

WindowState stateOf(QWidget& window);
WindowState readyState();
WindowState confirmedState();
WindowState runningState();
WindowState doneState();

char* toString(const WindowState& state);

// The texts a run and a reset must leave alone, as they stand.
struct UntouchedTexts
{
    QString key, userName, dataFolder, size, status, guide, instructions;
    bool operator==(const UntouchedTexts&) const = default;
};
UntouchedTexts untouchedTexts(QWidget& window);
char* toString(const UntouchedTexts& texts);

// Answers the failure report at once and keeps what it was told.
class RecordingErrorReport final : public ErrorReport
{
public:
    struct Report
    {
        int number;
        QString description;
    };
    void show(QWidget* parent, int number, const QString& description) override;
    std::vector<Report> reports;
};

// Ticks the box and presses the update button as a user would; returns when the
// run has ended.
void startRun(QWidget& window);

// Fills the three input fields.
void typeInputs(QWidget& window, const QString& key, const QString& userName,
                const QString& dataFolder);

} // namespace kqget::testing

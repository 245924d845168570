#pragma once

#include "app/qt/message_boxes.h"

#include <QStringList>
#include <QWidget>

#include <string_view>
#include <vector>

namespace kqget::testing {

using namespace Qt::Literals::StringLiterals;

template <typename Widget> Widget* control(QWidget& window, std::string_view name)
{
    return window.findChild<Widget*>(QString::fromLatin1(name.data(), name.size()));
}

// The properties that make up the window's state, as one text; Check1's value
// is 0 unticked, 1 ticked, 2 grey.
QString stateOf(QWidget& window);
inline const QString kReady =
    u"Command1 off \"Update KQ XML's - Png's\", Check1 0 on, Command2 off"_s;
inline const QString kConfirmed =
    u"Command1 on \"Update KQ XML's - Png's\", Check1 1 on, Command2 off"_s;
inline const QString kRunning =
    u"Command1 off \"Update KQ XML's - Png's\", Check1 1 off, Command2 off"_s;
inline const QString kDone = u"Command1 off \"DONE !\", Check1 1 off, Command2 on"_s;

// The texts that a reset must leave as they stand: the inputs, the progress
// fields and the two labels.
QStringList untouchedTexts(QWidget& window);

// Answers both message boxes at once and keeps what they were to show.
class RecordingMessageBoxes final : public MessageBoxes
{
public:
    void showFailure(QWidget*, int number, const QString& description) override
    {
        reports.push_back({number, description});
    }
    void showNotice(QWidget*, const QString& text) override { notices.push_back(text); }
    std::vector<std::pair<int, QString>> reports;
    QStringList notices;
};

// Ticks the box and presses the update button as a user would; returns when the
// run has ended.
void startRun(QWidget& window);

} // namespace kqget::testing

#include "tests/app/window_probe.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace kqget::testing {

namespace {

constexpr auto kUpdateCaption = "Update KQ XML's - Png's";

int valueOf(Qt::CheckState state)
{
    switch (state) {
    case Qt::Unchecked:
        return 0;
    case Qt::Checked:
        return 1;
    case Qt::PartiallyChecked:
        return 2;
    }
    return -1;
}

} // namespace

WindowState stateOf(QWidget& window)
{
    const auto* update = control<QPushButton>(window, "Command1");
    const auto* confirm = control<QCheckBox>(window, "Check1");
    const auto* reset = control<QPushButton>(window, "Command2");
    return {update->isEnabled(), update->text(), valueOf(confirm->checkState()),
            confirm->isEnabled(), reset->isEnabled()};
}

WindowState readyState()
{
    return {false, QString::fromLatin1(kUpdateCaption), 0, true, false};
}

WindowState confirmedState()
{
    return {true, QString::fromLatin1(kUpdateCaption), 1, true, false};
}

WindowState runningState()
{
    return {false, QString::fromLatin1(kUpdateCaption), 1, false, false};
}

WindowState doneState()
{
    return {false, QString::fromLatin1("DONE !"), 1, false, true};
}

char* toString(const WindowState& state)
{
    const QString text = QString::fromLatin1("{Command1 %1 \"%2\", Check1 %3 %4, Command2 %5}")
                             .arg(state.updateEnabled ? "enabled" : "disabled", state.updateCaption)
                             .arg(state.confirmValue)
                             .arg(state.confirmEnabled ? "enabled" : "disabled",
                                  state.resetEnabled ? "enabled" : "disabled");
    return qstrdup(text.toUtf8().constData());
}

UntouchedTexts untouchedTexts(QWidget& window)
{
    return {control<QLineEdit>(window, "tKEY")->text(),
            control<QLineEdit>(window, "tUSERNAME")->text(),
            control<QLineEdit>(window, "tDATA")->text(),
            control<QLineEdit>(window, "Text1")->text(),
            control<QLineEdit>(window, "Text2")->text(),
            control<QLabel>(window, "Label1")->text(),
            control<QLabel>(window, "Label7")->text()};
}

char* toString(const UntouchedTexts& texts)
{
    const QString text = QString::fromLatin1("{tKEY %1, tUSERNAME %2, tDATA %3, Text1 %4, "
                                             "Text2 %5, Label1 %6, Label7 %7}")
                             .arg(texts.key, texts.userName, texts.dataFolder, texts.size,
                                  texts.status, texts.guide, texts.instructions);
    return qstrdup(text.toUtf8().constData());
}

void RecordingErrorReport::show(QWidget* /*parent*/, int number, const QString& description)
{
    reports.push_back({number, description});
}

void startRun(QWidget& window)
{
    QTest::mouseClick(control<QCheckBox>(window, "Check1"), Qt::LeftButton);
    QTest::mouseClick(control<QPushButton>(window, "Command1"), Qt::LeftButton);
}

void typeInputs(QWidget& window, const QString& key, const QString& userName,
                const QString& dataFolder)
{
    control<QLineEdit>(window, "tKEY")->setText(key);
    control<QLineEdit>(window, "tUSERNAME")->setText(userName);
    control<QLineEdit>(window, "tDATA")->setText(dataFolder);
}

} // namespace kqget::testing

#include "tests/app/qt/window_probe.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace kqget::testing {

QString stateOf(QWidget& window)
{
    const auto* update = control<QPushButton>(window, "Command1");
    const auto* confirm = control<QCheckBox>(window, "Check1");
    const auto onOff = [](const QWidget* widget) { return widget->isEnabled() ? "on" : "off"; };
    const int value = confirm->checkState() == Qt::Checked            ? 1
                      : confirm->checkState() == Qt::PartiallyChecked ? 2
                                                                      : 0;
    return QString::fromLatin1("Command1 %1 \"%2\", Check1 %3 %4, Command2 %5")
        .arg(onOff(update), update->text())
        .arg(value)
        .arg(onOff(confirm), onOff(control<QPushButton>(window, "Command2")));
}

QStringList untouchedTexts(QWidget& window)
{
    QStringList texts;
    for (const char* name : {"tKEY", "tUSERNAME", "tDATA", "Text1", "Text2"}) {
        texts << control<QLineEdit>(window, name)->text();
    }
    return texts << control<QLabel>(window, "Label1")->text()
                 << control<QLabel>(window, "Label7")->text();
}

void startRun(QWidget& window)
{
    QTest::mouseClick(control<QCheckBox>(window, "Check1"), Qt::LeftButton);
    QTest::mouseClick(control<QPushButton>(window, "Command1"), Qt::LeftButton);
}

} // namespace kqget::testing

// Drives the real window through one run as a person would: fills the three
// fields, ticks the box, presses the update button and waits for "DONE !".
// bench/run.py times it against kqget-cli on the same library, so the cost of
// processing events and repainting the fields shows as a ratio.
//
//   kqget-bench-window KEY USER DATA
//
// Runs offscreen unless QT_QPA_PLATFORM says otherwise. Exits 0 once the
// status field reads "DONE !", 2 when the run failed, 1 when it never ended.

#include "app/qt/main_window.h"
#include "app/qt/message_boxes.h"
#include "app/qt/window_transfer.h"

#include <QApplication>
#include <QCheckBox>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QPushButton>

#include <cstdio>
#include <cstdlib>

namespace kqget {

namespace {

// Generous: a run over the benchmark's libraries takes seconds at most.
constexpr int kRunDeadlineMs = 10 * 60 * 1000;
constexpr int kEventWaitMs = 50;

// A message box would wait for a click that never comes; what it would say
// goes to stderr, and a failure ends the driver.
class PrintedMessageBoxes final : public MessageBoxes
{
public:
    void showFailure(QWidget*, int number, const QString& description) override
    {
        std::fprintf(stderr, "kqget-bench-window: error %d: %s\n", number,
                     description.toLocal8Bit().constData());
        m_failed = true;
    }
    void showNotice(QWidget*, const QString& text) override
    {
        std::fprintf(stderr, "kqget-bench-window: %s\n", text.toLocal8Bit().constData());
    }
    bool failed() const noexcept { return m_failed; }

private:
    bool m_failed = false;
};

template <typename Widget> Widget* control(QWidget& window, const char* name)
{
    auto* widget = window.findChild<Widget*>(QString::fromLatin1(name));
    if (widget == nullptr) {
        std::fprintf(stderr, "kqget-bench-window: the window has no %s\n", name);
        std::exit(1);
    }
    return widget;
}

int drive(int argc, char** argv)
{
    QApplication application(argc, argv);
    PrintedMessageBoxes messageBoxes;
    MainWindow window(messageBoxes, makeWindowTransfer);
    window.show();
    QCoreApplication::processEvents();

    control<QLineEdit>(window, "tKEY")->setText(QString::fromLocal8Bit(argv[1]));
    control<QLineEdit>(window, "tUSERNAME")->setText(QString::fromLocal8Bit(argv[2]));
    control<QLineEdit>(window, "tDATA")->setText(QString::fromLocal8Bit(argv[3]));
    control<QCheckBox>(window, "Check1")->click();
    QLineEdit* status = control<QLineEdit>(window, "Text2");
    control<QPushButton>(window, "Command1")->click();

    const QDeadlineTimer deadline(kRunDeadlineMs);
    while (status->text() != QLatin1String("DONE !") && !messageBoxes.failed()) {
        if (deadline.hasExpired()) {
            std::fputs("kqget-bench-window: the run did not end\n", stderr);
            return 1;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, kEventWaitMs);
    }
    return messageBoxes.failed() ? 2 : 0;
}

} // namespace

} // namespace kqget

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fputs("usage: kqget-bench-window KEY USER DATA\n", stderr);
        return 64;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    return kqget::drive(argc, argv);
}

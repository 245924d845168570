#include "app/command_line.h"
#include "app/qt/display_check.h"
#include "app/qt/main_window.h"
#include "app/qt/message_boxes.h"
#include "app/qt/window_screenshot.h"
#include "app/qt/window_transfer.h"
#include "update/exit_status.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>

namespace {

// Not a run's outcome: the window never opened.
constexpr int kNoDisplayExitStatus = 1;

} // namespace

int main(int argc, char** argv)
{
    using kqget::WindowCommand;
    const std::vector<std::string_view> arguments(argv + 1, argv + argc);
    const WindowCommand command = kqget::parseWindowCommand(arguments);
    const kqget::ServiceSettings settings = kqget::windowServiceSettings();
    switch (command.action) {
    case WindowCommand::Action::Version:
        std::fputs(settings.versionText().c_str(), stdout);
        return 0;
    case WindowCommand::Action::Help:
        std::fputs(kqget::windowUsageText().c_str(), stdout);
        return 0;
    case WindowCommand::Action::Usage:
        std::fprintf(stderr, "kqget: %s\n\n%s", command.problem.c_str(),
                     kqget::windowUsageText().c_str());
        return kqget::exitCode(kqget::ExitStatus::Usage);
    case WindowCommand::Action::OpenWindow:
    case WindowCommand::Action::Screenshot:
        break;
    }
    if (!settings.problem.empty()) {
        std::fprintf(stderr, "kqget: %s\n", settings.problem.c_str());
        return kqget::exitCode(kqget::ExitStatus::Usage);
    }
    const kqget::ServiceBases& bases = settings.bases;

    if (const auto problem = kqget::missingDisplayProblem(arguments)) {
        std::fprintf(stderr, "kqget: %s\n", problem->c_str());
        return kNoDisplayExitStatus;
    }
    QApplication app(argc, argv);
    kqget::ModalMessageBoxes messageBoxes;
    kqget::MainWindow window(
        messageBoxes, [&bases] { return kqget::makeWindowTransferFor(bases); }, bases.hosts());
    QObject::connect(&window, &kqget::MainWindow::programEndRequested, &app,
                     [](int status) { QCoreApplication::exit(status); });
    window.show();

    if (command.action == WindowCommand::Action::Screenshot) {
        QString problem;
        if (!kqget::saveWindowScreenshot(window, QString::fromStdString(command.screenshotPath),
                                         &problem)) {
            std::fprintf(stderr, "kqget: cannot save %s: %s\n", command.screenshotPath.c_str(),
                         problem.toLocal8Bit().constData());
            return 1;
        }
        return 0;
    }
    return QApplication::exec();
}

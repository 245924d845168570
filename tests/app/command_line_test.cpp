#include "app/command_line.h"

#include <QTest>

namespace kqget::testing {

using namespace Qt::Literals::StringLiterals;
using Action = WindowCommand::Action;

class CommandLineTest : public QObject
{
    Q_OBJECT

private slots:
    void parses_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("action");
        QTest::addColumn<QString>("detail"); // the screenshot path or the problem
        const auto row = [](const char* name, QStringList arguments, Action action,
                            QString detail = {}) {
            QTest::newRow(name) << arguments << static_cast<int>(action) << detail;
        };
        row("nothing", {}, Action::OpenWindow);
        row("toolkit options pass", {u"-platform"_s, u"offscreen"_s}, Action::OpenWindow);
        row("version", {u"--version"_s}, Action::Version);
        row("version wins", {u"--screenshot"_s, u"a.png"_s, u"--version"_s}, Action::Version);
        row("help", {u"-h"_s}, Action::Help);
        row("screenshot", {u"--screenshot"_s, u"docs/w.png"_s}, Action::Screenshot,
            u"docs/w.png"_s);
        row("screenshot without file", {u"--screenshot"_s}, Action::Usage,
            u"--screenshot needs a file name"_s);
        row("unknown", {u"--demo"_s}, Action::Usage, u"unknown option --demo"_s);
    }
    void parses()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, action);
        QFETCH(QString, detail);
        std::vector<std::string> texts;
        for (const QString& argument : arguments) {
            texts.push_back(argument.toStdString());
        }
        const WindowCommand command =
            parseWindowCommand(std::vector<std::string_view>(texts.begin(), texts.end()));
        QCOMPARE(static_cast<int>(command.action), action);
        if (command.action == Action::Screenshot) {
            QCOMPARE(QString::fromStdString(command.screenshotPath), detail);
        } else {
            QCOMPARE(QString::fromStdString(command.problem), detail);
        }
    }
};

} // namespace kqget::testing

QTEST_MAIN(kqget::testing::CommandLineTest)
#include "command_line_test.moc"

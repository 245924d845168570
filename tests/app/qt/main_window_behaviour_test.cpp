#include "app/qt/main_window.h"
#include "tests/app/qt/window_probe.h"
#include "tests/support/temp_dir.h"
#include "update/transfer_port.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <memory>

namespace kqget::testing {

using namespace Qt::Literals::StringLiterals;

namespace {

// These runs find no card, so nothing may be fetched.
class NoFetch final : public TransferPort
{
public:
    void start(FetchTicket, std::string_view url, std::shared_ptr<BodySink>) override
    {
        throw std::logic_error("unexpected fetch of " + std::string(url));
    }
    std::vector<FinishedFetch> waitForFinished(std::chrono::milliseconds) override { return {}; }
    void abandonAll() noexcept override {}
};

std::unique_ptr<TransferPort> noFetch()
{
    return std::make_unique<NoFetch>();
}

// Check1.Value as the program sets it: 0 unticked, 1 ticked, 2 grey.
void setValue(QCheckBox& box, int value)
{
    constexpr Qt::CheckState states[] = {Qt::Unchecked, Qt::Checked, Qt::PartiallyChecked};
    box.setCheckState(states[value]);
}

} // namespace

class MainWindowBehaviourTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_workFolder = std::make_unique<TempDir>();
        QVERIFY(QDir::setCurrent(QString::fromStdString(m_workFolder->path().string())));
        m_window = std::make_unique<MainWindow>(m_errors, noFetch);
        m_window->show();
    }
    void cleanup()
    {
        m_window.reset();
        QDir::setCurrent(QDir::tempPath());
        m_workFolder.reset();
    }

    // The load handler reached the widgets; its texts are checked with the logic.
    void loadFillsTheLabelsAndLeavesTheWindowReady()
    {
        QCOMPARE(control<QLabel>(*m_window, "Label1")->text().split(u"\r\n"_s).size(), 3);
        QCOMPARE(control<QLabel>(*m_window, "Label7")->text().split(u"\r\n"_s).size(), 4);
        QCOMPARE(stateOf(*m_window), kReady);
        QCOMPARE(control<QLineEdit>(*m_window, "Text1")->text(), u"0"_s);
        QCOMPARE(control<QLineEdit>(*m_window, "Text2")->text(), QString());
    }

    // A click, a key and the program's change all reach the box's handler, and
    // the three values of the box read as they show.
    void theBoxDrivesTheUpdateButton_data()
    {
        const QString grey =
            u"Command1 off \"Update KQ XML's - Png's\", Check1 2 on, Command2 off"_s;
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("state");
        QTest::newRow("click ticks") << QStringList{u"click"_s} << kConfirmed;
        QTest::newRow("space ticks") << QStringList{u"space"_s} << kConfirmed;
        QTest::newRow("program ticks") << QStringList{u"1"_s} << kConfirmed;
        QTest::newRow("program unticks") << QStringList{u"click"_s, u"0"_s} << kReady;
        QTest::newRow("grey") << QStringList{u"2"_s} << grey;
    }
    void theBoxDrivesTheUpdateButton()
    {
        QFETCH(QStringList, steps);
        QFETCH(QString, state);
        auto* box = control<QCheckBox>(*m_window, "Check1");
        for (const QString& step : steps) {
            if (step == u"click"_s) {
                QTest::mouseClick(box, Qt::LeftButton);
            } else if (step == u"space"_s) {
                box->setFocus();
                QTest::keyClick(box, Qt::Key_Space);
            } else {
                setValue(*box, step.toInt());
            }
        }
        QCOMPARE(stateOf(*m_window), state);
    }

    // The buttons reach their handlers: Confirmed, Running, Done and back to
    // Ready by a user's clicks on a real run over an empty data folder.
    void theWindowGoesThroughEveryState()
    {
        const TempDir data;
        const QString folder = QString::fromStdString(data.path().string());
        control<QLineEdit>(*m_window, "tDATA")->setText(folder);

        QTest::mouseClick(control<QCheckBox>(*m_window, "Check1"), Qt::LeftButton);
        QCOMPARE(stateOf(*m_window), kConfirmed);

        // Seen from inside the run, at its first processing of events.
        std::optional<QString> during;
        bool fieldsEditable = false;
        QTimer::singleShot(0, this, [&] {
            during = stateOf(*m_window);
            fieldsEditable = true;
            for (const char* name : {"tKEY", "tUSERNAME", "tDATA"}) {
                auto* field = control<QLineEdit>(*m_window, name);
                fieldsEditable = fieldsEditable && field->isEnabled() && !field->isReadOnly();
            }
        });
        QTest::mouseClick(control<QPushButton>(*m_window, "Command1"), Qt::LeftButton);
        QVERIFY(during.has_value());
        QCOMPARE(*during, kRunning);
        QVERIFY(fieldsEditable);

        QCOMPARE(stateOf(*m_window), kDone);
        QCOMPARE(control<QLineEdit>(*m_window, "Text2")->text(), u"DONE !"_s);
        QCOMPARE(control<QLineEdit>(*m_window, "tDATA")->text(), folder + u"/"_s);
        QCOMPARE(readFile(m_workFolder->path() / "KQ-GET-PNG-XML.txt"), std::string());
        QVERIFY(m_errors.reports.empty());

        QTest::mouseClick(control<QPushButton>(*m_window, "Command2"), Qt::LeftButton);
        QCOMPARE(stateOf(*m_window), kReady);
    }

    // With the keyboard alone: to the box, tick, to the update button, Enter,
    // and the focus waits on RESET; Space there, and it waits on the box.
    void theKeyboardAloneRunsAndResetsAndTheFocusIsNeverLost()
    {
        const TempDir data;
        control<QLineEdit>(*m_window, "tDATA")->setText(QString::fromStdString(data.folder()));
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        const auto focused = [] { return QApplication::focusWidget()->objectName(); };
        const auto key = [](Qt::Key pressed) {
            QTest::keyClick(QApplication::focusWidget(), pressed);
        };
        QCOMPARE(focused(), u"Picture1"_s);
        for (int field = 0; field < 6; ++field) {
            key(Qt::Key_Tab);
        }
        QCOMPARE(focused(), u"Check1"_s);
        key(Qt::Key_Space);
        key(Qt::Key_Tab);
        QCOMPARE(focused(), u"Command1"_s);
        key(Qt::Key_Return);
        QCOMPARE(stateOf(*m_window), kDone);
        QCOMPARE(focused(), u"Command2"_s);
        key(Qt::Key_Space);
        QCOMPARE(stateOf(*m_window), kReady);
        QCOMPARE(focused(), u"Check1"_s);
    }

private:
    RecordingMessageBoxes m_errors;
    std::unique_ptr<TempDir> m_workFolder;
    std::unique_ptr<MainWindow> m_window;
};

} // namespace kqget::testing

QTEST_MAIN(kqget::testing::MainWindowBehaviourTest)
#include "main_window_behaviour_test.moc"

#include "app/error_report.h"
#include "app/main_window.h"
#include "app/window_transfer.h"
#include "tests/app/window_probe.h"
#include "tests/support/expected_urls.h"
#include "tests/support/temp_dir.h"
#include "tools/card-service/card_service.h"
#include "update/build_config.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <cstdlib>
#include <memory>

namespace kqget::testing {

using namespace Qt::Literals::StringLiterals;
using namespace std::chrono_literals;

namespace {

constexpr auto kLogName = "KQ-GET-PNG-XML.txt";
constexpr qint64 kSchedulingAllowanceMs = 20;

std::string infoUrl(std::string_view card)
{
    return kqget::testing::configuredInfoUrl(card, "KEY1", "user");
}

std::string imageUrl(std::string_view card)
{
    return kqget::testing::configuredImageUrl(card);
}

QString qs(const std::string& text)
{
    return QString::fromStdString(text);
}

} // namespace

// Runs from the window against the stand-in card service, reached as the
// proxy of the configured hosts.
class MainWindowRunTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        for (const char* name : {"no_proxy", "NO_PROXY", "all_proxy", "ALL_PROXY"}) {
            ::unsetenv(name);
        }
    }

    void init()
    {
        m_service = std::make_unique<CardService>();
        ::setenv("http_proxy", m_service->baseUrl().c_str(), 1);
        m_workFolder = std::make_unique<TempDir>();
        QVERIFY(QDir::setCurrent(qs(m_workFolder->path().string())));
        m_data = std::make_unique<TempDir>();
        m_window = std::make_unique<MainWindow>(m_errors, makeWindowTransfer);
        m_window->show();
        control<QLineEdit>(*m_window, "tKEY")->setText(u" KEY1  "_s);
        control<QLineEdit>(*m_window, "tUSERNAME")->setText(u"user"_s);
        control<QLineEdit>(*m_window, "tDATA")->setText(qs(m_data->path().string()));
    }
    void cleanup()
    {
        m_window.reset();
        m_errors.reports.clear();
        QDir::setCurrent(QDir::tempPath());
        m_data.reset();
        m_workFolder.reset();
        m_service.reset();
        ::unsetenv("http_proxy");
    }

    void aFullRunEndsDoneWithItsLog()
    {
        m_data->makeFolder("A0001");
        m_data->write("B0002/B0002.xml", "<card/>");
        m_data->write("B0002/B0002_full.png", std::string(12000, 'p'));
        m_data->write("C0003/C0003.xml", "<card/>");
        m_data->write("C0003/C0003_full.png", std::string(10999, 'p'));
        m_data->makeFolder("E0004");
        m_data->write("D0005", "a plain file");

        QSignalSpy ended(m_window.get(), &MainWindow::programEndRequested);
        startRun(*m_window);

        QCOMPARE(stateOf(*m_window), kDone);
        QVERIFY(m_errors.reports.empty());
        QCOMPARE(ended.count(), 0);
        const std::string folder = m_data->folder();
        QCOMPARE(control<QLineEdit>(*m_window, "tDATA")->text(), qs(folder));
        QCOMPARE(control<QLineEdit>(*m_window, "Text2")->text(), u"DONE !"_s);

        const std::string xml = CardService::expectedXml("A0001", "KEY1", "user");
        const std::string pngA = CardService::expectedPng("A0001");
        const std::string pngC = CardService::expectedPng("C0003");
        QCOMPARE(control<QLineEdit>(*m_window, "Text1")->text(), QString::number(pngC.size()));
        QCOMPARE(m_data->read("A0001/A0001.xml"), xml);
        QCOMPARE(m_data->read("A0001/A0001_full.png"), pngA);
        QCOMPARE(m_data->read("B0002/B0002_full.png"), std::string(12000, 'p'));
        QCOMPARE(m_data->read("C0003/C0003_full.png"), pngC);
        QCOMPARE(m_service->requests().size(), std::size_t{3});

        const std::string log = readFile(m_workFolder->path() / kLogName);
        const std::string expected =
            "A0001\r\n" + folder + "A0001/A0001.xml size 0\r\n" +
            "Download File: " + infoUrl("A0001") + " New size " + std::to_string(xml.size()) +
            "\r\n" + folder + "A0001/A0001_full.png size 0\r\n" +
            "Download File: " + imageUrl("A0001") + " New size " + std::to_string(pngA.size()) +
            "\r\n" + "B0002\r\n" + folder + "B0002/B0002.xml size 7\r\n" + folder +
            "B0002/B0002_full.png size 12000\r\n" + "C0003\r\n" + folder +
            "C0003/C0003.xml size 7\r\n" + folder + "C0003/C0003_full.png size 10999\r\n" +
            "Download File: " + imageUrl("C0003") + " New size " + std::to_string(pngC.size()) +
            "\r\n";
        QCOMPARE(log, expected);

        // The reset re-arms the window and leaves what the run wrote.
        const QStringList after = untouchedTexts(*m_window);
        QTest::mouseClick(control<QPushButton>(*m_window, "Command2"), Qt::LeftButton);
        QCOMPARE(stateOf(*m_window), kReady);
        QCOMPARE(untouchedTexts(*m_window), after);
    }

    void aFailureIsReportedAndEndsTheProgram_data()
    {
        QTest::addColumn<QString>("dataFolder");
        QTest::addColumn<QString>("faultOn");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("named");
        QTest::newRow("no data folder") << u"missing"_s << QString() << 10 << u"missing/"_s;
        QTest::newRow("dropped illustration")
            << QString() << u"A0001_full.png"_s << 40 << u"A0001_full.png"_s;
    }
    void aFailureIsReportedAndEndsTheProgram()
    {
        QFETCH(QString, dataFolder);
        QFETCH(QString, faultOn);
        QFETCH(int, number);
        QFETCH(QString, named);
        m_data->makeFolder("A0001");
        if (!dataFolder.isEmpty()) {
            control<QLineEdit>(*m_window, "tDATA")->setText(qs(m_data->folder()) + dataFolder);
        }
        if (!faultOn.isEmpty()) {
            Fault dropped;
            dropped.dropMidBody = true;
            m_service->addFault(faultOn.toStdString(), dropped);
        }
        QSignalSpy ended(m_window.get(), &MainWindow::programEndRequested);
        startRun(*m_window);

        QCOMPARE(m_errors.reports.size(), std::size_t{1});
        QCOMPARE(m_errors.reports[0].first, number);
        QVERIFY2(m_errors.reports[0].second.contains(named),
                 qPrintable(m_errors.reports[0].second));
        QCOMPARE(ended.count(), 1);
        QVERIFY(ended[0][0].toInt() != 0);

        // The log holds whole lines only, and no card file is half-written.
        const std::string log = readFile(m_workFolder->path() / kLogName);
        QVERIFY(log.empty() || log.ends_with("\r\n"));
        if (!faultOn.isEmpty()) {
            QCOMPARE(m_data->listing(), std::string("A0001\nA0001/A0001.xml\n"));
            QVERIFY(log.ends_with("A0001_full.png size 0\r\n"));
        }
    }

    // The report a user gets: a message box with the number and description.
    void theFailureReportIsAMessageBox()
    {
        MessageBoxErrorReport report;
        QString shown;
        QTimer::singleShot(0, this, [&shown] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box != nullptr);
            shown = box->text();
            QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
        });
        report.show(m_window.get(), 40, u"cannot reach http://x/"_s);
        QCOMPARE(shown, u"Error 40\n\ncannot reach http://x/"_s);
    }

    // A slow fetch keeps the window painting and taking input, keeps the
    // controls locked, and a close during it ends the run after that file.
    void aSlowFetchKeepsTheWindowAliveAndACloseStopsTheRun()
    {
        m_data->makeFolder("A0001");
        m_data->makeFolder("A0002");
        Fault slow;
        slow.delay = 700ms;
        m_service->addFault("cardids=A0001", slow);

        QElapsedTimer sinceStart;
        QElapsedTimer sinceTick;
        qint64 longestGap = 0;
        int ticks = 0;
        bool closed = false;
        bool lockedThroughout = true;
        QTimer ticker;
        ticker.setInterval(10);
        connect(&ticker, &QTimer::timeout, this, [&] {
            if (!sinceStart.isValid()) {
                sinceStart.start();
            }
            if (sinceTick.isValid()) {
                longestGap = std::max(longestGap, sinceTick.elapsed());
            }
            sinceTick.start();
            ++ticks;
            // Presses on the locked controls change nothing.
            QTest::mouseClick(control<QPushButton>(*m_window, "Command1"), Qt::LeftButton);
            QTest::mouseClick(control<QPushButton>(*m_window, "Command2"), Qt::LeftButton);
            lockedThroughout = lockedThroughout && stateOf(*m_window) == kRunning;
            // Well inside the slow fetch: the user closes the window.
            if (!closed && sinceStart.elapsed() >= 300) {
                closed = true;
                QCOMPARE(m_service->requests().size(), std::size_t{1});
                m_window->close();
            }
        });
        ticker.start();
        QSignalSpy ended(m_window.get(), &MainWindow::programEndRequested);
        startRun(*m_window);
        ticker.stop();

        qInfo("longest time without events: %lld ms over %d passes", longestGap, ticks);
        // Events came through the whole 700 ms wait, not only around it.
        QVERIFY(closed);
        QVERIFY2(ticks >= 7, qPrintable(QString::number(ticks)));
        // The transfer calls back every 50 ms but its wait can skip a beat, so
        // passes come up to 100 ms apart; the rest allows for a busy machine.
        QVERIFY2(longestGap <= 100 + kSchedulingAllowanceMs,
                 qPrintable(u"%1 ms without events"_s.arg(longestGap)));
        QVERIFY(lockedThroughout);
        QCOMPARE(ended.count(), 1);
        QCOMPARE(ended[0][0].toInt(), 0);
        QVERIFY(!m_window->isVisible());
        QVERIFY(m_errors.reports.empty());

        // The fetch under way was stored whole; no other fetch started.
        const std::string xml = CardService::expectedXml("A0001", "KEY1", "user");
        QCOMPARE(m_service->requests().size(), std::size_t{1});
        QCOMPARE(m_data->read("A0001/A0001.xml"), xml);
        QCOMPARE(m_data->listing(), std::string("A0001\nA0001/A0001.xml\nA0002\n"));
        const std::string folder = m_data->folder();
        QCOMPARE(readFile(m_workFolder->path() / kLogName),
                 "A0001\r\n" + folder + "A0001/A0001.xml size 0\r\n" + "Download File: " +
                     infoUrl("A0001") + " New size " + std::to_string(xml.size()) + "\r\n" +
                     folder + "A0001/A0001_full.png size 0\r\n");
    }

private:
    RecordingErrorReport m_errors;
    std::unique_ptr<CardService> m_service;
    std::unique_ptr<TempDir> m_workFolder;
    std::unique_ptr<TempDir> m_data;
    std::unique_ptr<MainWindow> m_window;
};

} // namespace kqget::testing

QTEST_MAIN(kqget::testing::MainWindowRunTest)
#include "main_window_run_test.moc"

#include "app/qt/main_window.h"
#include "app/qt/message_boxes.h"
#include "app/qt/window_transfer.h"
#include "platform/service_settings.h"
#include "tests/app/qt/window_probe.h"
#include "tests/support/expected_urls.h"
#include "tests/support/temp_dir.h"
#include "tools/card-service/card_service.h"
#include "update/build_config.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace kqget::testing {

using namespace Qt::Literals::StringLiterals;
using namespace std::chrono_literals;

namespace {

constexpr auto kLogName = "KQ-GET-PNG-XML.txt";

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
        m_errors.notices.clear();
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
        QVERIFY(m_errors.notices.empty());
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

    // The failure reaches the message box and the window stays, Ready, with
    // what was typed, the key nowhere on screen; the failures themselves are
    // checked with the logic.
    void aFailureIsReportedAndTheWindowStaysReady()
    {
        m_data->makeFolder("A0001");
        Fault dropped;
        dropped.dropMidBody = true;
        m_service->addFault("A0001_full.png", dropped);
        QSignalSpy ended(m_window.get(), &MainWindow::programEndRequested);
        startRun(*m_window);

        QCOMPARE(m_errors.reports.size(), std::size_t{1});
        QCOMPARE(m_errors.reports[0].first, 40);
        QVERIFY2(m_errors.reports[0].second.contains(u"A0001_full.png"_s),
                 qPrintable(m_errors.reports[0].second));
        QCOMPARE(ended.count(), 0);
        QVERIFY(m_window->isVisible());
        QCOMPARE(stateOf(*m_window), kReady);
        QCOMPARE(control<QLineEdit>(*m_window, "tKEY")->text(), u" KEY1  "_s);
        QCOMPARE(control<QLineEdit>(*m_window, "tUSERNAME")->text(), u"user"_s);
        QCOMPARE(control<QLineEdit>(*m_window, "Text2")->text(),
                 qs("Get " + configuredInfoUrl("A0001", "…", "user")));
        QCOMPARE(m_data->listing(), std::string("A0001\nA0001/A0001.xml\n"));
        QVERIFY(readFile(m_workFolder->path() / kLogName).ends_with("A0001_full.png size 0\r\n"));
    }

    // The bases as the program takes them, from a user's settings file: the
    // run reaches the service there; a host there that cannot be found is
    // told in the box with where to change it.
    void aUserSettingsFileSetsWhereTheRunFetches()
    {
        const TempDir config;
        ::setenv("XDG_CONFIG_HOME", config.folder().c_str(), 1);
        const std::string file = config.folder() + "kqget/kqget.conf";
        const auto runWithSettings = [&](const std::string& text) {
            config.write("kqget/kqget.conf", text);
            const ServiceSettings settings = windowServiceSettings();
            QVERIFY2(settings.problem.empty(), settings.problem.c_str());
            const ServiceBases& bases = settings.bases;
            m_window = std::make_unique<MainWindow>(
                m_errors, [bases] { return makeWindowTransferFor(bases); }, bases.hosts());
            m_window->show();
            control<QLineEdit>(*m_window, "tKEY")->setText(u"KEY1"_s);
            control<QLineEdit>(*m_window, "tUSERNAME")->setText(u"user"_s);
            control<QLineEdit>(*m_window, "tDATA")->setText(qs(m_data->folder()));
            startRun(*m_window);
        };
        m_data->makeFolder("A0001");
        runWithSettings(
            "info-base = http://settings.test/\nimage-base = http://img.settings.test\n");
        QCOMPARE(stateOf(*m_window), kDone);
        const auto requests = m_service->requests();
        QCOMPARE(requests.size(), std::size_t{2});
        QVERIFY(requests[0].target.starts_with("http://settings.test/bof/bof.php?"));
        QVERIFY(requests[1].target.starts_with("http://img.settings.test/free/sets/A0001/"));

        ::setenv("http_proxy", "", 1);
        m_data->write("A0001/A0001.xml", "");
        runWithSettings("info-base = http://nowhere.invalid\n");
        ::unsetenv("XDG_CONFIG_HOME");
        QCOMPARE(m_errors.reports.size(), std::size_t{1});
        QVERIFY2(
            m_errors.reports[0].second.endsWith(
                qs("nowhere.invalid is the info base's host, set by line 1 of " + file +
                   "; to change it, set KQGET_INFO_BASE or write 'info-base = URL' into " + file)),
            qPrintable(m_errors.reports[0].second));
    }

    // What a user gets: modal boxes with an OK button, and the texts given.
    void theMessageBoxesShowTheirTexts_data()
    {
        QTest::addColumn<bool>("failure");
        QTest::addColumn<int>("icon");
        QTest::addColumn<QString>("text");
        QTest::newRow("failure") << true << int(QMessageBox::Critical)
                                 << u"Error 40\n\ncannot reach http://x/"_s;
        QTest::newRow("notice") << false << int(QMessageBox::Information)
                                << u"cannot reach http://x/"_s;
    }
    void theMessageBoxesShowTheirTexts()
    {
        QFETCH(bool, failure);
        QFETCH(int, icon);
        QFETCH(QString, text);
        ModalMessageBoxes boxes;
        QString shown;
        int shownIcon = -1;
        QTimer::singleShot(0, this, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box != nullptr);
            shown = box->text();
            shownIcon = int(box->icon());
            QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
        });
        if (failure) {
            boxes.showFailure(m_window.get(), 40, u"cannot reach http://x/"_s);
        } else {
            boxes.showNotice(m_window.get(), u"cannot reach http://x/"_s);
        }
        QCOMPARE(shown, text);
        QCOMPARE(shownIcon, icon);
    }

    // A fetch that stalls keeps the window taking input with its controls
    // locked, and closing the window stops the run at once: the stalled fetch
    // is abandoned, the log is closed, no card file is touched.
    void aCloseDuringAStalledFetchStopsTheRunAtOnce()
    {
        m_data->makeFolder("A0001");
        m_data->makeFolder("A0002");
        Fault stalled;
        // Far beyond the test's time-out: the run can only end by the close.
        stalled.delay = 30min;
        m_service->addFault("cardids=A0001", stalled);

        int ticks = 0;
        bool closed = false;
        bool lockedThroughout = true;
        QTimer ticker;
        ticker.setInterval(10);
        connect(&ticker, &QTimer::timeout, this, [&] {
            ++ticks;
            // Presses on the locked controls change nothing.
            QTest::mouseClick(control<QPushButton>(*m_window, "Command1"), Qt::LeftButton);
            QTest::mouseClick(control<QPushButton>(*m_window, "Command2"), Qt::LeftButton);
            lockedThroughout = lockedThroughout && stateOf(*m_window) == kRunning;
            // The stalled request has reached the service, and the window has
            // kept handling events since: the user closes it.
            const auto requests = m_service->requests();
            const bool stalling = std::ranges::any_of(requests, [](const ReceivedRequest& request) {
                return request.target.find("cardids=A0001") != std::string::npos;
            });
            if (!closed && stalling && ticks >= 5) {
                closed = true;
                m_window->close();
            }
        });
        ticker.start();
        QSignalSpy ended(m_window.get(), &MainWindow::programEndRequested);
        startRun(*m_window);
        ticker.stop();

        QVERIFY(closed);
        QVERIFY(lockedThroughout);
        QCOMPARE(ended.count(), 1);
        QCOMPARE(ended[0][0].toInt(), 0);
        QVERIFY(!m_window->isVisible());
        QVERIFY(m_errors.reports.empty());
        QVERIFY(m_errors.notices.empty());

        // Nothing was stored, not even what the other fetches brought; the log
        // is whole up to the card that waited.
        QCOMPARE(m_data->listing(), std::string("A0001\nA0002\n"));
        const std::string folder = m_data->folder();
        QCOMPARE(readFile(m_workFolder->path() / kLogName),
                 "A0001\r\n" + folder + "A0001/A0001.xml size 0\r\n");
    }

private:
    RecordingMessageBoxes m_errors;
    std::unique_ptr<CardService> m_service;
    std::unique_ptr<TempDir> m_workFolder;
    std::unique_ptr<TempDir> m_data;
    std::unique_ptr<MainWindow> m_window;
};

} // namespace kqget::testing

QTEST_MAIN(kqget::testing::MainWindowRunTest)
#include "main_window_run_test.moc"

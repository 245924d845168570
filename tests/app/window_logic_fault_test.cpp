// The window's failures and notices as the stand-in service's faults bring
// them about: the service runs in this process, so each case sets its own.

#include "tests/app/window_logic_fixture.h"
#include "tests/support/scoped_environment.h"
#include "tools/card-service/card_service.h"

namespace kqget::testing {

namespace {

using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

// Started before the window that fetches from it, stopped after.
struct FaultyService
{
    NoProxyEnvironment m_noProxy;
    CardService m_service;
};

class WindowLogicFaultTest : protected FaultyService, public WindowLogicFixture
{
protected:
    WindowLogicFaultTest() : WindowLogicFixture(m_service.baseUrl()) {}

    // A data folder of empty card folders A0001, A0002 ... up to `cards`.
    static void addCards(const TempDir& data, int cards)
    {
        for (int card = 1; card <= cards; ++card) {
            data.makeFolder("A000" + std::to_string(card));
        }
    }
};

// A reply dropped halfway is a failure, not a half-written card file; the
// window stays for the next run.
TEST_F(WindowLogicFaultTest, AFailureIsReportedAndTheWindowStaysReady)
{
    struct Case
    {
        const char* name;
        std::string faultOn; // dropped mid-body
        int number;
        std::string named;
        std::string listing; // of the data folder afterwards
    };
    // In this order: the card information stored in the last case is not
    // fetched again.
    const std::vector<Case> cases = {
        {"dropped card information", "cardids=A0001", 40, "mlunkey=…", "A0001\n"},
        {"dropped illustration", "A0001_full.png", 40, "A0001_full.png",
         "A0001\nA0001/A0001.xml\n"},
    };
    m_data.makeFolder("A0001");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_view.failures.clear();
        m_view.endings.clear();
        m_service.clearFaults();
        Fault dropped;
        dropped.dropMidBody = true;
        m_service.addFault(c.faultOn, dropped);
        runOn(m_data.folder());
        expectFailure(c.number, c.named, c.listing);
    }
}

// After "DONE !" the user learns which files the next run fetches again.
TEST_F(WindowLogicFaultTest, TheEndOfARunTellsWhatIsLeft)
{
    Fault notFound;
    notFound.status = 404;
    Fault cut;
    cut.cutAt = 5000;
    struct Case
    {
        const char* name;
        int cards;
        std::string faultOn;
        Fault fault;
        std::vector<std::string> shown;
        std::vector<std::string> notShown;
    };
    const std::string image = "/free/sets/";
    const std::vector<Case> cases = {
        {"an illustration not stored",
         2,
         "A0001_full.png",
         notFound,
         {"1 file is not repaired", "A0001/illustrations/A0001_full.png (not stored: HTTP 404)"},
         {"A0002"}},
        {"card information not stored, key hidden",
         1,
         "cardids=A0001",
         notFound,
         {"1 file is not repaired", "mlunkey=…&mlunusername=user&cardids=A0001"},
         {"KEY1"}},
        {"stored but still too small",
         1,
         "A0001_full.png",
         cut,
         {"1 file is not repaired", "A0001_full.png (5000 bytes: still too small)"},
         {}},
        {"the first five of many",
         7,
         "_full.png",
         notFound,
         {"7 files are not repaired", "A0005_full.png", "and 2 more"},
         {"A0006"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TempDir data;
        addCards(data, c.cards);
        m_service.clearFaults();
        m_service.addFault(c.faultOn, c.fault);
        m_view.notices.clear();
        runOn(data.folder());

        EXPECT_EQ(m_logic.state(), WindowState::Done);
        EXPECT_THAT(m_view.failures, IsEmpty());
        EXPECT_THAT(m_view.endings, IsEmpty());
        ASSERT_EQ(m_view.notices.size(), 1u);
        EXPECT_EQ(m_view.statusAtNotice, "DONE !");
        const std::string& notice = m_view.notices[0];
        for (const std::string& text : c.shown) {
            EXPECT_THAT(notice, HasSubstr(text));
        }
        for (const std::string& text : c.notShown) {
            EXPECT_THAT(notice, Not(HasSubstr(text)));
        }
        EXPECT_THAT(notice, EndsWith("\nThe log lists them all:\n" + m_logPath));
    }
}

// However late in a run the window is closed, the program ends once the
// handler returns, with nothing more shown: a hidden window must not outlive it.
TEST_F(WindowLogicFaultTest, ACloseDuringARunEndsTheProgram)
{
    using namespace std::chrono_literals;
    enum class CloseAt
    {
        Start,  // the run's first repaint, with no card to ask again
        Fetch,  // while a fetch stalls
        Notice, // while the notice is up
    };
    struct Case
    {
        const char* name;
        CloseAt at;
        int cards;
        std::size_t notices;
        std::string listing;
    };
    const std::vector<Case> cases = {
        {"at the start, no cards", CloseAt::Start, 0, 0, ""},
        {"during a stalled fetch", CloseAt::Fetch, 1, 0, "A0001\n"},
        {"while the notice is up", CloseAt::Notice, 1, 1, "A0001\nA0001/A0001.xml\n"},
    };
    Fault notFound;
    notFound.status = 404;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TempDir data;
        addCards(data, c.cards);
        m_service.clearFaults();
        if (c.at == CloseAt::Fetch) {
            Fault stalled;
            stalled.delay = 30min; // only the close can end the run
            m_service.addFault("cardids=", stalled);
        } else {
            m_service.addFault("_full.png", notFound);
        }
        m_view.notices.clear();
        m_view.endings.clear();
        m_view.onEvents = [&] {
            if (c.at == CloseAt::Start ||
                (c.at == CloseAt::Fetch && !m_service.requests().empty())) {
                m_logic.closing();
            }
        };
        m_view.onNotice = [&] {
            if (c.at == CloseAt::Notice) {
                m_logic.closing();
            }
        };
        runOn(data.folder());
        m_view.onEvents = nullptr;
        m_view.onNotice = nullptr;

        EXPECT_THAT(m_view.endings, ::testing::ElementsAre(0));
        EXPECT_THAT(m_view.failures, IsEmpty());
        EXPECT_EQ(m_view.notices.size(), c.notices);
        EXPECT_EQ(data.listing(), c.listing);
    }
}

} // namespace

} // namespace kqget::testing

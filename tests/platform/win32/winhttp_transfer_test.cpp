// WinHTTP against the stand-in card service, a Linux process on 127.0.0.1
// started for the whole test run (tests/windows/card_service.sh), reached
// as a proxy: the hosts below are made up, and the service's faults are
// chosen by them.
#include "platform/win32/winhttp_transfer.h"
#include "tests/support/card_service_proxy.h"
#include "tests/support/expected_urls.h"
#include "tests/support/fetch_one.h"
#include "tests/support/refused_certificates.h"
#include "tools/card-service/card_content.h"
#include "update/run_error.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <new>
#include <thread>

namespace {

// While set, every thread but the test's own is refused memory: no other way
// makes WinHTTP's thread run out of it at a chosen moment. The library's operator
// delete frees with free(), as this operator new allocates.
std::atomic<bool> g_starveOtherThreads{false};
std::thread::id g_testThread;

} // namespace

void* operator new(std::size_t size)
{
    if (g_starveOtherThreads && std::this_thread::get_id() != g_testThread) {
        throw std::bad_alloc();
    }
    if (void* block = std::malloc(size == 0 ? 1 : size)) {
        return block;
    }
    throw std::bad_alloc();
}

namespace kqget {
namespace {

class StarvedThreads
{
public:
    StarvedThreads()
    {
        g_testThread = std::this_thread::get_id();
        g_starveOtherThreads = true;
    }
    ~StarvedThreads() { g_starveOtherThreads = false; }
    StarvedThreads(const StarvedThreads&) = delete;
    StarvedThreads& operator=(const StarvedThreads&) = delete;
};

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using ::testing::StartsWith;

// The failure's text, in lower case: the system's own wording varies in case.
std::string lowerText(const RunError& error)
{
    std::string text = error.what();
    for (char& c : text) {
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    return text;
}

std::string imageUrl(std::string_view host, std::string_view cardId)
{
    return "http://" + std::string(host) + testing::imagePath(cardId);
}

class WinHttpTransferTest : public ::testing::Test
{
protected:
    TransferOptions quick{
        .connectTimeout = 2s, .stallTimeout = 1s, .proxy = testing::cardServiceProxy()};
};

TEST_F(WinHttpTransferTest, FetchesThroughTheProxyWithTheWireEncoding)
{
    WinHttpTransfer transfer(quick);
    const auto png = testing::fetchOne(transfer, imageUrl("images.test", "A0001"));
    EXPECT_EQ(png.httpStatus, 200);
    EXPECT_EQ(png.body, testing::cardPng("A0001"));
    // Key, user and card id go out encoded and come back decoded by the service.
    const auto xml = testing::fetchOne(transfer, "http://cards.test" +
                                                     testing::infoPath("Aé 1", "k#y", "us er"));
    EXPECT_EQ(xml.body, testing::cardXml("Aé 1", "k#y", "us er"));
}

TEST_F(WinHttpTransferTest, RepliesAndFailuresByHost)
{
    struct Case
    {
        std::string_view host;
        long status;                                 // 0: a failure is expected
        ErrorNumber failure = ErrorNumber::Transfer; // when it fails
        std::optional<std::chrono::seconds> retryAfter{};
        bool overSizeCap = false;
        std::string_view reason = {}; // a word of the failure's cause
        bool systemsCode = true;      // the failure is the system's, with its code
        bool cardPng = false;         // the body is the card's image, decoded
        std::chrono::milliseconds totalTimeout = TransferOptions{}.totalTimeout;
    };
    const Case cases[] = {
        {"missing.test", 404},
        {"hops.test", 200},
        {"slow.test", 503, {}, 7s},
        {"dated.test", 429, {}, 0s},
        {"unreadable.test", 429},
        {"big.test", 200, {}, {}, true},
        {"loop.test", 0, ErrorNumber::TooManyRedirects, {}, false, "redirect"},
        {"stall.test", 0, ErrorNumber::TransferTimeout, {}, false, "timed out"},
        {"silent.test", 0, ErrorNumber::TransferTimeout, {}, false, "timed out"},
        {"drip.test",
         0,
         ErrorNumber::TransferTimeout,
         {},
         false,
         "slower than 1024 bytes/s for 1000 ms (low-speed time-out)",
         false},
        // Well above the slowest pace, for far longer than the whole limit.
        {"trickle.test",
         0,
         ErrorNumber::TransferTimeout,
         {},
         false,
         "took longer than 1 second",
         false,
         false,
         1s},
        // Decoded by WinHTTP where the system can, else by kqget.
        {"gzip.test", 200, {}, {}, false, {}, true, true},
        {"crushed.test", 0, ErrorNumber::Transfer, {}, false, {}, false},
        // Half its announced length, then the connection closes.
        {"dropped.test", 0, ErrorNumber::Transfer, {}, false, "the connection closed after", false},
    };
    WinHttpTransfer shared(quick);
    for (const Case& each : cases) {
        SCOPED_TRACE(std::string(each.host));
        TransferOptions options = quick;
        options.totalTimeout = each.totalTimeout;
        std::optional<WinHttpTransfer> limited;
        TransferPort& transfer =
            each.totalTimeout == quick.totalTimeout ? shared : limited.emplace(options);
        const std::string url = imageUrl(each.host, "A0001");
        if (each.status == 0) {
            try {
                testing::fetchOne(transfer, url);
                ADD_FAILURE() << "expected a failure";
            } catch (const RunError& error) {
                EXPECT_EQ(error.number(), each.failure) << error.what();
                // The system's reason and its code, even where winhttp.dll has no texts.
                EXPECT_THAT(lowerText(error), HasSubstr(each.reason));
                if (each.systemsCode) {
                    EXPECT_THAT(lowerText(error), HasSubstr(" (error 1"));
                }
            }
            continue;
        }
        const auto result = testing::fetchOne(transfer, url);
        EXPECT_EQ(result.httpStatus, each.status);
        EXPECT_EQ(result.retryAfter, each.retryAfter);
        EXPECT_EQ(result.overSizeCap, each.overSizeCap);
        if (each.overSizeCap) {
            EXPECT_TRUE(result.body.empty());
        }
        if (each.cardPng) {
            EXPECT_EQ(result.undecodedEncoding, "");
            EXPECT_EQ(result.body, testing::cardPng("A0001"));
        }
    }
}

TEST_F(WinHttpTransferTest, NoProxyThereIsATransferFailureNamingTheSystemsReason)
{
    WinHttpTransfer transfer({.connectTimeout = 2s, .proxy = "http://127.0.0.1:1"});
    try {
        testing::fetchOne(transfer, imageUrl("images.test", "A0001"));
        ADD_FAILURE();
    } catch (const RunError& error) {
        EXPECT_EQ(error.number(), ErrorNumber::Transfer);
        EXPECT_THAT(lowerText(error), HasSubstr("winhttpsendrequest: a connection"));
    }
    // A proxy WinHTTP cannot use fails every fetch, naming it.
    WinHttpTransfer unusable({.proxy = "https://proxy.test"});
    for (int fetch = 0; fetch < 2; ++fetch) {
        try {
            testing::fetchOne(unusable, imageUrl("images.test", "A0001"));
            ADD_FAILURE();
        } catch (const RunError& error) {
            EXPECT_THAT(error.what(), HasSubstr("https://proxy.test"));
        }
    }
}

// The transfer then ends once WinHTTP has let go of the abandoned requests:
// Windows does at their close, Wine when their pending receive times out.
TEST_F(WinHttpTransferTest, AbandonedFetchesAreDroppedAndTheRunGoesOnAtOnce)
{
    quick.stallTimeout = 5s;
    WinHttpTransfer transfer(quick);
    for (FetchTicket ticket = 1; ticket <= 3; ++ticket) {
        transfer.start(ticket, imageUrl("stall.test", "A000" + std::to_string(ticket)),
                       std::make_shared<testing::MemorySink>());
    }
    std::this_thread::sleep_for(200ms); // under way, held by the service
    // The service holds them for ten minutes, past the test's time-out: a
    // transfer that waited for them here fails the test.
    transfer.abandonAll();

    const auto sink = std::make_shared<testing::MemorySink>();
    transfer.start(4, imageUrl("images.test", "A0004"), sink);
    std::vector<FinishedFetch> finished;
    while (finished.empty()) {
        finished = transfer.waitForFinished(100ms);
    }
    ASSERT_EQ(finished.size(), 1u);
    EXPECT_EQ(finished[0].ticket, 4u);
    EXPECT_EQ(sink->body, testing::cardPng("A0004"));
    transfer.start(5, imageUrl("stall.test", "A0005"), std::make_shared<testing::MemorySink>());
    transfer.abandonAll();
    transfer.start(6, imageUrl("stall.test", "A0006"), std::make_shared<testing::MemorySink>());
}

// The failure reaches the run as any other does, instead of ending the program.
TEST_F(WinHttpTransferTest, AFetchWithoutMemoryEndsTheRunWithError60)
{
    WinHttpTransfer transfer(quick);
    const StarvedThreads starved;
    try {
        testing::fetchOne(transfer, imageUrl("images.test", "A0001"));
        ADD_FAILURE() << "expected a failure";
    } catch (const RunError& error) {
        EXPECT_EQ(error.number(), ErrorNumber::OutOfMemory) << error.what();
    }
}

// The lines of one file of a TLS service's state (tests/windows/tls_services.sh).
std::vector<std::string> tlsServiceLines(std::string_view server, std::string_view suffix)
{
    std::ifstream file(KQGET_TLS_SERVICES_DIR "/" + std::string(server) + std::string(suffix));
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) {
        lines.push_back(line);
    }
    return lines;
}

// Straight to the services over TLS, with no proxy in the prefix's settings;
// their authority is among the machine's trusted roots.
TEST(WinHttpTransferTlsTest, RefusedCertificatesAreNamedAndTheirServersGetNothingOfTheRun)
{
    struct Case
    {
        std::string_view server; // its certificate's name
        std::optional<CertificateReason> refused;
    };
    std::vector<Case> cases = {{"server", std::nullopt}};
    for (const auto& refused : testing::kRefusedCertificates) {
        cases.push_back({refused.name, refused.reason});
    }
    WinHttpTransfer transfer({.connectTimeout = 5s, .stallTimeout = 5s});
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.server));
        const std::vector<std::string> port = tlsServiceLines(c.server, ".port");
        ASSERT_EQ(port.size(), 1u);
        const std::string url =
            "https://127.0.0.1:" + port[0] + testing::infoPath("A1", "KEY", "USER");
        try {
            const auto xml = testing::fetchOne(transfer, url);
            EXPECT_FALSE(c.refused);
            EXPECT_EQ(xml.body, testing::cardXml("A1", "KEY", "USER"));
        } catch (const RunError& error) {
            ASSERT_TRUE(c.refused) << error.what();
            EXPECT_EQ(error.number(), ErrorNumber::Transfer);
            EXPECT_THAT(error.what(), StartsWith(certificateFailureText(*c.refused, "WinHttp")));
            // After its port, only what the check of its certificate asked.
            const std::vector<std::string> targets = tlsServiceLines(c.server, ".out");
            for (std::size_t line = 1; line < targets.size(); ++line) {
                EXPECT_EQ(targets[line], "/");
            }
        }
    }
}

// The key in the URL would go out in clear: the redirect is refused, and the
// http:// address never hears of the fetch.
TEST(WinHttpTransferTlsTest, ARedirectFromHttpsToHttpIsRefusedNamingIt)
{
    const std::vector<std::string> port = tlsServiceLines("server", ".port");
    ASSERT_EQ(port.size(), 1u);
    WinHttpTransfer transfer({.connectTimeout = 5s, .stallTimeout = 5s});
    try {
        testing::fetchOne(transfer, "https://127.0.0.1:" + port[0] + "/to-http/A0001?key=KEY");
        ADD_FAILURE() << "expected a failure";
    } catch (const RunError& error) {
        EXPECT_EQ(error.number(), ErrorNumber::Transfer);
        EXPECT_THAT(error.what(), StartsWith("redirected to "));
        EXPECT_THAT(error.what(), HasSubstr(": not followed, as the key would go out in clear"));
    }
}

} // namespace
} // namespace kqget

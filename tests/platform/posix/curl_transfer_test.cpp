#include "platform/posix/curl_transfer.h"
#include "platform/posix/local_file_system.h"
#include "tests/support/expected_urls.h"
#include "tests/support/fake_ports.h"
#include "tests/support/fetch_one.h"
#include "tests/support/posix/test_certificates.h"
#include "tests/support/refused_certificates.h"
#include "tests/support/scoped_environment.h"
#include "tools/card-service/card_service.h"
#include "update/card_update_run.h"
#include "update/run_error.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>

namespace kqget {
namespace {

using namespace std::chrono_literals;
using testing::CardService;
using testing::Fault;
using ::testing::HasSubstr;
using testing::imagePath;
using testing::infoPath;
using Clock = std::chrono::steady_clock;

// Limits no reply of a sound service meets, however loaded the machine.
constexpr TransferOptions kPatient{.connectTimeout = 30s, .stallTimeout = 30s};
// For the tests of the stall time-out itself.
constexpr TransferOptions kStallOf1s{.connectTimeout = 30s, .stallTimeout = 1s};
constexpr std::chrono::hours kForever{1}; // the service's waits end when it stops
// Faults go to this card only, so the same transfer can fetch a sound one next.
constexpr std::string_view kFaultyCard = "A0666";

// The port of a service that has stopped: nothing listens there now.
int deadPort()
{
    return CardService().port();
}

class CurlTransferTest : public ::testing::Test
{
protected:
    std::string imageUrl(std::string_view cardId) const
    {
        return service.baseUrl() + imagePath(cardId);
    }

    // Expects get(url) to fail, and the same transfer to work again afterwards.
    void expectFailure(CurlTransfer& transfer, const std::string& url, ErrorNumber number,
                       std::string_view reason)
    {
        try {
            testing::fetchOne(transfer, url);
            ADD_FAILURE() << "expected a failure";
        } catch (const RunError& error) {
            EXPECT_EQ(error.number(), number) << error.what();
            EXPECT_THAT(error.what(), HasSubstr(reason));
        }
        EXPECT_EQ(testing::fetchOne(transfer, imageUrl("A0001")).body,
                  CardService::expectedPng("A0001"));
    }

    testing::NoProxyEnvironment noProxy;
    CardService service;
};

TEST_F(CurlTransferTest, FetchesBothServicePathsAsBytes)
{
    CurlTransfer transfer(kPatient);
    const auto xml =
        testing::fetchOne(transfer, service.baseUrl() + infoPath("A0001", "KEY", "user"));
    EXPECT_EQ(xml.httpStatus, 200);
    EXPECT_EQ(xml.body, CardService::expectedXml("A0001", "KEY", "user"));
    const auto png = testing::fetchOne(transfer, imageUrl("B12"));
    EXPECT_EQ(png.httpStatus, 200);
    EXPECT_EQ(png.body, CardService::expectedPng("B12"));
    EXPECT_FALSE(png.overSizeCap);
}

TEST_F(CurlTransferTest, GoesThroughTheProxyNamedInTheEnvironment)
{
    const testing::ScopedEnvironment proxy("http_proxy", service.baseUrl());
    CurlTransfer transfer(kPatient);
    const std::string url = "http://info.kq.example" + infoPath("A0001", "KEY", "user");
    EXPECT_EQ(testing::fetchOne(transfer, url).body,
              CardService::expectedXml("A0001", "KEY", "user"));
    const std::string image = "http://images.kq.example" + imagePath("A0001");
    EXPECT_EQ(testing::fetchOne(transfer, image).body, CardService::expectedPng("A0001"));

    const auto requests = service.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].target, url);
    EXPECT_EQ(requests[0].host, "info.kq.example");
    EXPECT_EQ(requests[1].target, image);
    EXPECT_EQ(requests[1].host, "images.kq.example");
}

TEST_F(CurlTransferTest, NoProxyExemptsAHostFromTheProxy)
{
    const testing::ScopedEnvironment proxy("http_proxy",
                                           "http://127.0.0.1:" + std::to_string(deadPort()));
    const testing::ScopedEnvironment exempt("no_proxy", "127.0.0.1");
    CurlTransfer transfer(kPatient);
    EXPECT_EQ(testing::fetchOne(transfer, imageUrl("A0001")).body,
              CardService::expectedPng("A0001"));
}

TEST_F(CurlTransferTest, EncodesTheUrlOnTheWireButNamesItAsFormed)
{
    CurlTransfer transfer(kPatient);
    const std::string key = "a b#c\"<>\\^`{|}\xc3\xa9";
    const auto result =
        testing::fetchOne(transfer, service.baseUrl() + infoPath("A0001", key, "x\ty%41"));
    ASSERT_EQ(service.requests().size(), 1u);
    EXPECT_EQ(service.requests()[0].target,
              "/bof/bof.php?cmd=cardinfo&mlunkey=a%20b%23c%22%3C%3E%5C%5E%60%7B%7C%7D%C3%A9"
              "&mlunusername=x%09y%41&cardids=A0001&xmlonly=1");
    EXPECT_EQ(result.body, CardService::expectedXml("A0001", key, "x\tyA"));

    const std::string refused =
        "http://127.0.0.1:" + std::to_string(deadPort()) + infoPath("A0001", "a b", "u");
    expectFailure(transfer, refused, ErrorNumber::Transfer, "curl error 7: ");
}

TEST_F(CurlTransferTest, FollowsUpToTenRedirects)
{
    CurlTransfer transfer(kPatient);
    for (const int hops : {1, 10}) {
        service.clearFaults();
        service.addFault(std::string(kFaultyCard), {.redirectHops = hops});
        const std::size_t before = service.requests().size();
        const auto result = testing::fetchOne(transfer, imageUrl(kFaultyCard));
        EXPECT_EQ(result.httpStatus, 200);
        EXPECT_EQ(result.body, CardService::expectedPng(kFaultyCard)) << hops << " hops";
        EXPECT_EQ(service.requests().size() - before, static_cast<std::size_t>(hops) + 1);
    }
}

TEST_F(CurlTransferTest, ErrorStatusesComeBackWithTheirPage)
{
    CurlTransfer transfer(kPatient);
    for (const int status : {400, 403, 404, 500, 503}) {
        service.clearFaults();
        service.addFault(std::string(kFaultyCard), {.status = status});
        const auto result = testing::fetchOne(transfer, imageUrl(kFaultyCard));
        EXPECT_EQ(result.httpStatus, status);
        EXPECT_EQ(result.body, CardService::expectedErrorPage(status));
    }
}

TEST_F(CurlTransferTest, FailuresNameTheUrlAndLeaveTheTransferUsable)
{
    const struct
    {
        const char* name;
        Fault fault;
        ErrorNumber number;
        std::string_view reason;
    } cases[] = {
        {"stall after headers",
         {.stallAfterHeaders = kForever},
         ErrorNumber::TransferTimeout,
         "no data received for 1000 ms"},
        {"a body that only drips",
         {.dripBytes = 1, .dripPause = 100ms},
         ErrorNumber::TransferTimeout,
         "slower than 1024 bytes/s for 1000 ms"},
        {"silence before headers",
         {.delay = kForever},
         ErrorNumber::TransferTimeout,
         "no data received for 1000 ms"},
        {"dropped mid-body", {.dropMidBody = true}, ErrorNumber::Transfer, "curl error 18: "},
        {"eleven redirects",
         {.redirectHops = 11},
         ErrorNumber::TooManyRedirects,
         "curl error 47: "},
        {"redirect loop", {.redirectLoop = true}, ErrorNumber::TooManyRedirects, "curl error 47: "},
    };
    CurlTransfer transfer(kStallOf1s);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        service.clearFaults();
        service.addFault(std::string(kFaultyCard), c.fault);
        expectFailure(transfer, imageUrl(kFaultyCard), c.number, c.reason);
    }
}

TEST_F(CurlTransferTest, ConnectionFailuresAreTransferErrors)
{
    CurlTransfer transfer(kPatient);
    expectFailure(transfer, "http://127.0.0.1:" + std::to_string(deadPort()) + imagePath("A0001"),
                  ErrorNumber::Transfer, "curl error 7: ");
    expectFailure(transfer, "http://cards.invalid" + imagePath("A0001"), ErrorNumber::Transfer,
                  "curl error 6: ");
}

TEST_F(CurlTransferTest, ASlowButSteadyBodyOutlastsTheStallTimeOut)
{
    // About two seconds in all, never a tenth of the limit without a byte.
    service.addFault("", {.dripBytes = 600, .dripPause = 100ms});
    CurlTransfer transfer(kStallOf1s);
    const auto start = Clock::now();
    EXPECT_EQ(testing::fetchOne(transfer, imageUrl("A0001")).body,
              CardService::expectedPng("A0001"));
    EXPECT_GT(Clock::now() - start, kStallOf1s.stallTimeout);
}

TEST_F(CurlTransferTest, ABodyOverTheCapIsFlaggedNotKept)
{
    const std::size_t pngSize = CardService::expectedPng("A0001").size();
    const struct
    {
        const char* name;
        Fault fault;
        std::size_t cap;
        bool over;
    } cases[] = {
        {"chunked, over 64 MiB", {.oversizedBody = true}, kBodySizeCapBytes, true},
        {"announced, a byte over", {}, pngSize - 1, true},
        {"chunked, a byte over", {.chunkedBody = true}, pngSize - 1, true},
        {"announced, exactly the cap", {}, pngSize, false},
        {"chunked, exactly the cap", {.chunkedBody = true}, pngSize, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        service.clearFaults();
        service.addFault("", c.fault);
        TransferOptions options = kPatient;
        options.bodySizeCap = c.cap;
        CurlTransfer transfer(options);
        const auto result = testing::fetchOne(transfer, imageUrl("A0001"));
        EXPECT_EQ(result.httpStatus, 200);
        EXPECT_EQ(result.overSizeCap, c.over);
        EXPECT_EQ(result.body.size(), c.over ? 0 : pngSize);
    }
}

TEST_F(CurlTransferTest, AnEmptyBodyIsAnEmptyResult)
{
    service.addFault("", {.emptyBody = true});
    CurlTransfer transfer(kPatient);
    const auto result = testing::fetchOne(transfer, imageUrl("A0001"));
    EXPECT_EQ(result.httpStatus, 200);
    EXPECT_EQ(result.body, "");
    EXPECT_FALSE(result.overSizeCap);
}

TEST_F(CurlTransferTest, ReusesOneConnectionUntilOneIsCutShort)
{
    service.addFault(std::string(kFaultyCard), {.dropMidBody = true});
    service.addFault("A0404", {.status = 404});
    CurlTransfer transfer(kPatient);
    testing::fetchOne(transfer, service.baseUrl() + infoPath("A0001", "K", "U"));
    testing::fetchOne(transfer, imageUrl("A0001"));
    testing::fetchOne(transfer, imageUrl("A0404"));
    EXPECT_EQ(service.connectionCount(), 1u);
    EXPECT_THROW(testing::fetchOne(transfer, imageUrl(kFaultyCard)), RunError);
    testing::fetchOne(transfer, imageUrl("A0002"));
    testing::fetchOne(transfer, imageUrl("A0003"));
    EXPECT_EQ(service.connectionCount(), 2u);
}

TEST_F(CurlTransferTest, KeepsSeveralFetchesUnderWayAndAbandonsThemAtOnce)
{
    // No reply comes until all four are under way.
    service.holdUntilAtOnce(4);
    CurlTransfer transfer(kPatient);
    std::map<FetchTicket, std::shared_ptr<testing::MemorySink>> bodies;
    for (FetchTicket ticket = 1; ticket <= 4; ++ticket) {
        bodies[ticket] = std::make_shared<testing::MemorySink>();
        transfer.start(ticket, imageUrl("A000" + std::to_string(ticket)), bodies[ticket]);
    }
    for (std::size_t done = 0; done < 4;) {
        done += transfer.waitForFinished(50ms).size();
    }
    EXPECT_EQ(service.mostAtOnce(), 4u);
    EXPECT_EQ(service.connectionCount(), 4u);
    EXPECT_EQ(bodies[3]->body, CardService::expectedPng("A0003"));

    service.addFault("A0009", {.delay = kForever});
    transfer.start(9, imageUrl("A0009"), std::make_shared<testing::MemorySink>());
    EXPECT_TRUE(transfer.waitForFinished(100ms).empty());
    transfer.abandonAll();
    EXPECT_TRUE(transfer.waitForFinished(100ms).empty()); // never reported
    EXPECT_EQ(testing::fetchOne(transfer, imageUrl("A0001")).body,
              CardService::expectedPng("A0001"));
}

// A key sent over https never goes out in clear: a redirect to http is
// refused before anything is sent there.
TEST(CurlTransferTlsTest, RunFetchesOverHttpsOnlyFromACertifiedServer)
{
    const testing::NoProxyEnvironment noProxy;
    const testing::TestCertificates certificates;
    const CardService plain;
    struct Case
    {
        std::string_view server; // its certificate's name
        std::string caBundle;
        std::optional<std::string> refused; // after the URL; none: the run completes
        std::string redirectTo{};           // where the server sends every request
    };
    const auto certificateRefused = [](CertificateReason reason) {
        return certificateFailureText(reason, "curl error 60");
    };
    std::vector<Case> cases = {
        {"server", certificates.file("ca.pem"), std::nullopt},
        {"server", "", certificateRefused(CertificateReason::Untrusted)}, // the system's store
        {"server", certificates.file("other-ca.pem"),
         certificateRefused(CertificateReason::Untrusted)},
        {"server", certificates.file("ca.pem"),
         "redirected to " + plain.baseUrl() + infoPath("A1", "KEY", "USER") +
             ": not followed, as the key would go out in clear",
         plain.baseUrl()},
    };
    for (const auto& refused : testing::kRefusedCertificates) {
        cases.push_back(
            {refused.name, certificates.file("ca.pem"), certificateRefused(refused.reason)});
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.server) + " trusting " + c.caBundle + " to " + c.redirectTo);
        CardService service({.certificatePath = certificates.file(std::string(c.server) + ".pem"),
                             .privateKeyPath = certificates.file(std::string(c.server) + ".key")});
        if (!c.redirectTo.empty()) {
            service.addFault("", {.redirectTo = c.redirectTo});
        }
        const ServiceHosts hosts{service.baseUrl(), service.baseUrl()};
        const testing::TempDir dir;
        dir.makeFolder("Data/A1");
        testing::RecordingProgress progress;
        LocalFileSystem fileSystem;
        TransferOptions options = kPatient;
        options.caBundlePath = c.caBundle;
        CurlTransfer transfer(options);
        CardUpdateRun run(progress, fileSystem, transfer, {}, hosts, (dir.path() / "log").string());
        try {
            run.run({"KEY", "USER", dir.folder() + "Data"});
            EXPECT_FALSE(c.refused);
            EXPECT_EQ(dir.read("Data/A1/A1.xml"), CardService::expectedXml("A1", "KEY", "USER"));
            EXPECT_THAT(dir.read("log"), HasSubstr("Download File: " + hosts.infoBase +
                                                   infoPath("A1", "KEY", "USER") + " New size "));
        } catch (const RunError& error) {
            ASSERT_TRUE(c.refused) << error.what();
            EXPECT_EQ(error.number(), ErrorNumber::Transfer);
            // The reason in the words every system uses, then libcurl's own.
            EXPECT_THAT(error.what(), HasSubstr("cannot fetch " + hosts.infoBase +
                                                infoPath("A1", "…", "USER") + ": " + *c.refused));
            EXPECT_EQ(dir.listing(), "Data\nData/A1\nlog\n");
        }
    }
    EXPECT_TRUE(plain.requests().empty());
}

} // namespace
} // namespace kqget

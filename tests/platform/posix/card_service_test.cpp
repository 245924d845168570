#include "platform/posix/curl_transfer.h"
#include "platform/posix/unique_fd.h"
#include "tests/support/fetch_one.h"
#include "tests/support/scoped_environment.h"
#include "tools/card-service/card_service.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>

namespace kqget::testing {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;

constexpr std::string_view kPngSignature = "\x89PNG\r\n\x1a\n";

TEST(CardServiceContentTest, IsDeterministicAndNamesTheCard)
{
    EXPECT_EQ(CardService::expectedPng("A0001"), CardService::expectedPng("A0001"));
    EXPECT_NE(CardService::expectedPng("A0001"), CardService::expectedPng("A0002"));
    for (const char* cardId : {"A0001", "B12", "D9999", "c x"}) {
        const std::string png = CardService::expectedPng(cardId);
        EXPECT_TRUE(png.starts_with(kPngSignature)) << cardId;
        EXPECT_GT(png.size(), 11000u) << cardId;
    }
    const std::string xml = CardService::expectedXml("A0001", "K&<1>", "Jo \"Ann\"");
    EXPECT_THAT(xml, HasSubstr("id=\"A0001\""));
    EXPECT_THAT(xml, HasSubstr("key=\"K&amp;&lt;1&gt;\""));
    EXPECT_THAT(xml, HasSubstr("user=\"Jo &quot;Ann&quot;\""));
}

class CardServiceTest : public ::testing::Test
{
protected:
    FetchedReply get(std::string_view path)
    {
        return fetchOne(transfer, service.baseUrl() + std::string(path));
    }

    NoProxyEnvironment noProxy;
    CardService service;
    CurlTransfer transfer{TransferOptions{.connectTimeout = 30s, .stallTimeout = 30s}};
};

TEST_F(CardServiceTest, AnswersOnlyTheServicePaths)
{
    const struct
    {
        std::string_view path;
        long status;
    } cases[] = {
        {"/bof/bof.php?cmd=cardinfo&mlunkey=K&mlunusername=U&cardids=A1&xmlonly=1", 200},
        {"/bof/bof.php?cmd=cardinfo&cardids=A1", 200},
        {"/bof/bof.php?cmd=other&cardids=A1", 400},
        {"/bof/bof.php?cmd=cardinfo", 400},
        {"/free/sets/A1/illustrations/A1_full.png", 200},
        {"/free/sets/A1/illustrations/A2_full.png", 404},
        {"/free/sets/A1/illustrations/A1.png", 404},
        {"/", 404},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(get(c.path).httpStatus, c.status) << c.path;
    }
}

TEST_F(CardServiceTest, TheFirstMatchingRuleApplies)
{
    service.addFault("A0002", {.status = 500});
    service.addFault("A000", {.status = 404});
    service.addFault("", {.status = 503});
    EXPECT_EQ(get("/free/sets/A0002/illustrations/A0002_full.png").httpStatus, 500);
    EXPECT_EQ(get("/free/sets/A0003/illustrations/A0003_full.png").httpStatus, 404);
    EXPECT_EQ(get("/free/sets/B0001/illustrations/B0001_full.png").httpStatus, 503);
    service.clearFaults();
    EXPECT_EQ(get("/free/sets/A0002/illustrations/A0002_full.png").httpStatus, 200);
}

TEST_F(CardServiceTest, LatencyDelaysEveryResponse)
{
    service.setLatency(200ms);
    const auto start = std::chrono::steady_clock::now();
    get("/free/sets/A1/illustrations/A1_full.png");
    get("/");
    EXPECT_GE(std::chrono::steady_clock::now() - start, 400ms);
}

// The service's program, started as a script would: port on the first line,
// ended by SIGTERM.
class ServiceProcess
{
public:
    explicit ServiceProcess(std::vector<std::string> arguments)
    {
        const auto program =
            std::filesystem::read_symlink("/proc/self/exe").parent_path() / "kqget-card-service";
        arguments.insert(arguments.begin(), program.string());
        std::vector<char*> argv;
        for (std::string& argument : arguments) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);

        int ends[2];
        if (::pipe(ends) != 0) {
            throw std::runtime_error("pipe failed");
        }
        m_output = UniqueFd(ends[0]);
        const UniqueFd input(ends[1]);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, input.get(), STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, m_output.get());
        const int error = ::posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (error != 0) {
            m_pid = -1;
            throw std::runtime_error("cannot start " + program.string());
        }
    }
    ~ServiceProcess()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    // The first line of output, or "" when none comes within 5 s.
    std::string firstLine()
    {
        std::string line;
        char c = 0;
        pollfd ready{m_output.get(), POLLIN, 0};
        while (::poll(&ready, 1, 5000) == 1 && ::read(m_output.get(), &c, 1) == 1 && c != '\n') {
            line.push_back(c);
        }
        return line;
    }

    // Waits for the program to end; its exit status, or -1 if it did not exit normally.
    int exitStatus()
    {
        int status = 0;
        ::waitpid(std::exchange(m_pid, -1), &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    int terminate()
    {
        ::kill(m_pid, SIGTERM);
        return exitStatus();
    }

private:
    pid_t m_pid = -1;
    UniqueFd m_output;
};

TEST(CardServiceProgramTest, PrintsItsPortServesWithFaultsAndStopsOnSigterm)
{
    NoProxyEnvironment noProxy;
    ServiceProcess process({"--match", "A0002", "--status", "404"});
    const std::string port = process.firstLine();
    ASSERT_FALSE(port.empty());
    {
        CurlTransfer transfer(TransferOptions{.connectTimeout = 30s, .stallTimeout = 30s});
        const std::string base = "http://127.0.0.1:" + port + "/free/sets/";
        EXPECT_EQ(fetchOne(transfer, base + "A0001/illustrations/A0001_full.png").body,
                  CardService::expectedPng("A0001"));
        EXPECT_EQ(fetchOne(transfer, base + "A0002/illustrations/A0002_full.png").httpStatus, 404);
    }
    EXPECT_EQ(process.terminate(), 0);
}

TEST(CardServiceProgramTest, RefusesAnUnknownSwitch)
{
    ServiceProcess process({"--no-such-switch"});
    EXPECT_EQ(process.exitStatus(), 64);
}

} // namespace
} // namespace kqget::testing

// kqget-cli as a user runs it: a real library in a temporary folder, the
// stand-in card service on 127.0.0.1 reached through http_proxy, and the
// program's own output, exit status and log.
#include "tests/cli/posix/cli_test_fixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <sys/stat.h>

namespace kqget {
namespace {

using testing::CardService;
using testing::CliTest;
using ::testing::HasSubstr;

TEST_F(CliTest, RepairsALibraryAndLogsEveryStepByteForByte)
{
    dir.makeFolder("Data/A0001");
    dir.write("Data/b0002/b0002.xml", "");
    dir.write("Data/b0002/b0002_full.png", std::string(10999, 'p'));
    dir.write("Data/C0003/C0003.xml", "<card/>");
    dir.write("Data/C0003/C0003_full.png", std::string(11000, 'p'));
    dir.makeFolder("Data/E0005");
    dir.makeFolder("Data/A123456");
    dir.write("Data/D1234", "a plain file");

    const auto result = runCli({"--key", " KEY ", "--user", "USER", "--data", data()});
    ASSERT_EQ(result.exitStatus, 0) << result.err;

    const std::string d = data() + "/";
    const std::string xmlA = CardService::expectedXml("A0001", "KEY", "USER");
    const std::string pngA = CardService::expectedPng("A0001");
    const std::string xmlB = CardService::expectedXml("b0002", "KEY", "USER");
    const std::string pngB = CardService::expectedPng("b0002");
    const std::string expectedLog =
        "A0001\r\n" + d + "A0001/A0001.xml size 0\r\n" + "Download File: " + infoUrl("A0001") +
        " New size " + std::to_string(xmlA.size()) + "\r\n" + d +
        "A0001/A0001_full.png size 0\r\n" + "Download File: " + imageUrl("A0001") + " New size " +
        std::to_string(pngA.size()) + "\r\n" + "b0002\r\n" + d + "b0002/b0002.xml size 0\r\n" +
        "Download File: " + infoUrl("b0002") + " New size " + std::to_string(xmlB.size()) + "\r\n" +
        d + "b0002/b0002_full.png size 10999\r\n" + "Download File: " + imageUrl("b0002") +
        " New size " + std::to_string(pngB.size()) + "\r\n" + "C0003\r\n" + d +
        "C0003/C0003.xml size 7\r\n" + d + "C0003/C0003_full.png size 11000\r\n";
    EXPECT_EQ(log(), expectedLog);

    EXPECT_EQ(dir.read("Data/A0001/A0001.xml"), xmlA);
    EXPECT_EQ(dir.read("Data/A0001/A0001_full.png"), pngA);
    EXPECT_EQ(dir.read("Data/b0002/b0002_full.png"), pngB);
    EXPECT_EQ(dir.read("Data/C0003/C0003_full.png"), std::string(11000, 'p'));

    EXPECT_EQ(withoutWallTime(result.out), "Cards checked: 3\nFiles fetched: 4\nFiles not stored: "
                                           "0\nFiles still too small: 0\nLog: " +
                                               logPath() + "\n");
    EXPECT_THAT(result.out, ::testing::ContainsRegex("\nTime: [0-9.]+ s\n"));
    EXPECT_EQ(result.err, "") << "no progress noise off a terminal";

    // Every request went through the proxy to the configured hosts.
    for (const auto& request : service->requests()) {
        EXPECT_TRUE(request.target.starts_with("http://")) << request.target;
    }
}

TEST_F(CliTest, LogIsPrivateAndASecondRunFindsNothingToDo)
{
    dir.makeFolder("Data/A1");
    ASSERT_EQ(runCli({"--key", "K", "--user", "U", "--data", data()}).exitStatus, 0);
    struct stat info
    {};
    ASSERT_EQ(::stat((dir.folder() + "KQ-GET-PNG-XML.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    const std::size_t before = service->requests().size();
    const auto second = runCli({"--key", "K", "--user", "U", "--data", data()});
    EXPECT_EQ(second.exitStatus, 0);
    EXPECT_EQ(service->requests().size(), before);
    EXPECT_EQ(log().substr(0, 4), "A1\r\n");
    EXPECT_THAT(second.out, HasSubstr("Files fetched: 0\n"));
}

TEST_F(CliTest, ErrorStatusIsNotStoredAndEndsWithStatusOne)
{
    dir.write("Data/A1/A1.xml", "<old/>");
    dir.write("Data/A1/A1_full.png", "tiny");
    dir.makeFolder("Data/B2");
    testing::Fault notFound;
    notFound.status = 404;
    service->addFault("/A1/illustrations", notFound);

    const auto result = runCli({"--key", "K", "--user", "U", "--data", data()});

    EXPECT_EQ(result.exitStatus, 1) << result.err;
    EXPECT_EQ(dir.read("Data/A1/A1_full.png"), "tiny");
    EXPECT_THAT(log(), HasSubstr("Download File: " + imageUrl("A1") + " Not stored: HTTP 404\r\n"));
    EXPECT_THAT(result.out, HasSubstr("Files fetched: 2\nFiles not stored: 1\n  " + imageUrl("A1") +
                                      " (HTTP 404)\n"));
}

TEST_F(CliTest, FailureEndsWithStatusTwoAndAMessageNamingTheCause)
{
    dir.makeFolder("Data/A1");
    const auto result = runCli({"--key", "K", "--user", "U", "--data", data()},
                               {{"http_proxy", "http://127.0.0.1:1"}});
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_THAT(result.err,
                HasSubstr("kqget-cli: error 40: cannot fetch " + infoUrl("A1", "…", "U")));
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(log(), "A1\r\n" + data() + "/A1/A1.xml size 0\r\n");

    const auto missing = runCli({"--key", "K", "--user", "U", "--data", data() + "/absent"});
    EXPECT_EQ(missing.exitStatus, 2);
    EXPECT_THAT(missing.err,
                HasSubstr("error 10: cannot search data folder '" + data() + "/absent/'"));
}

TEST_F(CliTest, KeyFromTheEnvironmentAndQuietOutput)
{
    dir.makeFolder("Data/A1");
    const auto result =
        runCli({"--user", "U", "--data", data(), "--quiet"}, {{"KQGET_KEY", "ENVKEY"}});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(dir.read("Data/A1/A1.xml"), CardService::expectedXml("A1", "ENVKEY", "U"));
}

TEST_F(CliTest, UsageVersionAndHelp)
{
    const auto bad = runCli({"--key", "K"});
    EXPECT_EQ(bad.exitStatus, 64);
    EXPECT_EQ(bad.err, "kqget-cli: the user name is missing: give --user\n"
                       "Try 'kqget-cli --help'.\n");

    const auto version = runCli({"--version"});
    EXPECT_EQ(version.exitStatus, 0);
    EXPECT_EQ(version.out, "kqget 1.01\n");

    const auto help = runCli({"--help"});
    EXPECT_EQ(help.exitStatus, 0);
    EXPECT_THAT(help.out, HasSubstr("Exit status"));
}

TEST_F(CliTest, CtrlCTermAndHangUpBetweenFetchesStopWithTheLogClosed)
{
    testing::Fault slow;
    slow.delay = std::chrono::milliseconds(300);
    service->addFault("", slow);
    const struct
    {
        int signal;
        std::string_view key;
    } cases[] = {{SIGINT, "K-INT"}, {SIGTERM, "K-TERM"}, {SIGHUP, "K-HUP"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        std::filesystem::remove_all(dir.path() / "Data");
        for (const char* card : {"A1", "A2", "A3", "A4", "A5", "A6"}) {
            dir.makeFolder(std::string("Data/") + card);
        }

        // Requests of the run stopped before can still reach the service, so
        // only this run's own ones count: the program installs its handlers
        // before it fetches, so once they arrive a signal is its to handle.
        const std::string ownKey = "mlunkey=" + std::string(c.key) + "&";
        const auto ownRequests = [&] {
            const auto requests = service->requests();
            return std::ranges::count_if(requests, [&](const testing::ReceivedRequest& r) {
                return r.target.find(ownKey) != std::string::npos;
            });
        };
        bool sent = false;
        const auto result = runCli({"--key", std::string(c.key), "--user", "U", "--data", data()},
                                   {}, [&](int pid) {
                                       if (!sent && ownRequests() >= 2) {
                                           ::kill(pid, c.signal);
                                           sent = true;
                                       }
                                   });

        EXPECT_EQ(result.exitStatus, 130) << result.err;
        EXPECT_THAT(result.err, HasSubstr("interrupted"));
        const std::string text = log();
        EXPECT_TRUE(text.ends_with("\r\n")) << "no line left open: " << text;
        EXPECT_EQ(text.find("A6"), std::string::npos) << "the run went on after Ctrl-C";
        // Every fetched file is whole, and no temporary file is left anywhere.
        for (const auto& entry :
             std::filesystem::recursive_directory_iterator(dir.path() / "Data")) {
            const std::string name = entry.path().filename().string();
            EXPECT_EQ(name.find(".kqget-"), std::string::npos) << name;
            if (name.ends_with(".xml")) {
                const std::string card = name.substr(0, name.size() - 4);
                EXPECT_EQ(testing::readFile(entry.path()),
                          CardService::expectedXml(card, c.key, "U"));
            }
        }
    }
}

TEST_F(CliTest, NeitherTheKeyNorAControlCharacterReachesTheScreen)
{
    const std::string key = "SECRET-KEY";
    const std::string escCard = "A\x1b[2J"; // would clear the terminal
    const std::string lineCard = "B\r\n1";  // would forge a line
    dir.makeFolder("Data/" + escCard);
    dir.write("Data/" + lineCard + "/" + lineCard + ".xml", "<card/>");
    service->addFault("cardids=A", {.status = 404});               // the info URL, key and all
    service->addFault("/B%0D%0A1/illustrations", {.cutAt = 5000}); // stored, still too small
    const std::vector<std::string> run = {"--key", key, "--user", "U", "--data", data()};

    // --proxy wins over the environment's proxy, which reaches nobody.
    auto arguments = run;
    arguments.insert(arguments.end(), {"--jobs", "1", "--proxy", service->baseUrl()});
    const auto listed = runCli(arguments, {{"http_proxy", "http://127.0.0.1:1"}});
    EXPECT_EQ(listed.exitStatus, 1) << listed.err;
    EXPECT_THAT(listed.out, HasSubstr("Files not stored: 1\n  " + infoUrl("A\\x1B[2J", "…", "U") +
                                      " (HTTP 404)\n"));
    EXPECT_THAT(listed.out, HasSubstr("Files still too small: 1\n  " + imageUrl("B\\x0D\\x0A1") +
                                      " (5000 bytes; still too small: fetched again next run)\n"));
    EXPECT_THAT(log(), HasSubstr("Download File: " + infoUrl("A\\x1B[2J", key, "U") +
                                 " Not stored: HTTP 404\r\n"))
        << "the log is the user's own full record";

    arguments = run;
    arguments.insert(arguments.end(), {"--proxy", "http://127.0.0.1:1"});
    const auto failed = runCli(arguments);
    EXPECT_EQ(failed.exitStatus, 2);
    EXPECT_THAT(failed.err,
                HasSubstr("kqget-cli: error 40: cannot fetch " + infoUrl("A\\x1B[2J", "…", "U")));

    for (const auto* output : {&listed.out, &listed.err, &failed.out, &failed.err}) {
        EXPECT_EQ(output->find(key), std::string::npos) << *output;
        EXPECT_EQ(output->find_first_of("\x1b\r"), std::string::npos) << *output;
    }
}

TEST_F(CliTest, OutputThatCannotBeWrittenEndsWithErrorFifty)
{
    dir.makeFolder("Data/A1");
    const std::vector<std::string> toFullDisk = {"/bin/sh", "-c", "exec \"$0\" \"$@\" >/dev/full",
                                                 KQGET_CLI_PATH};
    // A pipe whose reader is gone before the first write, as `| head -c 0` ends up,
    // with SIGPIPE as a shell leaves it (this test ignores it, and children inherit that).
    const std::vector<std::string> toClosedPipe = {
        "/usr/bin/perl", "-e",
        "$SIG{PIPE} = 'DEFAULT'; pipe(my $r, my $w) or die; close $r; open(STDOUT, '>&', $w) or "
        "die; exec @ARGV",
        KQGET_CLI_PATH};
    const struct
    {
        const std::vector<std::string>* launcher;
        std::string reason;
    } outputs[] = {{&toFullDisk, "No space left on device"}, {&toClosedPipe, "Broken pipe"}};
    for (const auto& output : outputs) {
        for (const std::vector<std::string>& arguments :
             {std::vector<std::string>{"--version"},
              std::vector<std::string>{"--key", "K", "--user", "U", "--data", data()}}) {
            testing::ChildOptions options;
            options.arguments = arguments;
            const auto result = runCliWith(options, *output.launcher);
            EXPECT_EQ(result.exitStatus, 2) << arguments.front() << ", " << output.reason;
            EXPECT_EQ(result.err, "kqget-cli: error 50: cannot write to standard output: " +
                                      output.reason + "\n");
        }
    }
}

} // namespace
} // namespace kqget

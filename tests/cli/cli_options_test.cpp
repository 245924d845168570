#include "cli/cli_options.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

namespace kqget {
namespace {

CliOptions parsedOk(const std::vector<std::string>& arguments, const char* environmentKey = nullptr)
{
    auto parsed = parseCliOptions(arguments, environmentKey);
    if (auto* problem = std::get_if<CliUsageError>(&parsed)) {
        ADD_FAILURE() << "unexpected usage error: " << problem->message;
        return {};
    }
    return std::get<CliOptions>(parsed);
}

TEST(CliOptions, TakesValuesAsTypedInBothSpellings)
{
    const CliOptions options =
        parsedOk({"--key", " K Y ", "--user=a user", "--data", "/cards", "--quiet"});
    EXPECT_EQ(options.action, CliOptions::Action::Run);
    EXPECT_EQ(options.inputs.key, " K Y "); // trimmed by the run, as in the window
    EXPECT_EQ(options.inputs.userName, "a user");
    EXPECT_EQ(options.inputs.dataFolder, "/cards");
    EXPECT_TRUE(options.quiet);
    EXPECT_EQ(options.jobs, kDefaultJobs);
    EXPECT_EQ(options.proxy, "");

    const CliOptions tuned = parsedOk(
        {"--key=k", "--user=u", "--data=d", "--jobs", "16", "--proxy", "http://proxy:3128"});
    EXPECT_EQ(tuned.jobs, 16u);
    EXPECT_EQ(tuned.proxy, "http://proxy:3128");
    EXPECT_EQ(parsedOk({"--key=k", "--user=u", "--data=d", "--jobs=1"}).jobs, 1u);
    EXPECT_EQ(parsedOk({"--key=k", "--user=u", "--data=d", "--jobs", " 8 ", "--"}).jobs, 8u);
}

TEST(CliOptions, EmptyDataFolderIsAValue)
{
    EXPECT_EQ(parsedOk({"--key=k", "--user=u", "--data="}).inputs.dataFolder, "");
}

TEST(CliOptions, KeyComesFromOptionThenFileThenEnvironment)
{
    testing::TempDir dir;
    const std::string keyFile = dir.write("key", "FROMFILE\r\nsecond line").string();

    EXPECT_EQ(parsedOk({"--key", "OPT", "--key-file", keyFile, "--user", "u", "--data", "d"}, "ENV")
                  .inputs.key,
              "OPT");
    EXPECT_EQ(parsedOk({"--key-file", keyFile, "--user", "u", "--data", "d"}, "ENV").inputs.key,
              "FROMFILE");
    EXPECT_EQ(parsedOk({"--user", "u", "--data", "d"}, "ENV").inputs.key, "ENV");
}

TEST(CliOptions, HelpAndVersionNeedNothingElse)
{
    EXPECT_EQ(parsedOk({"--help"}).action, CliOptions::Action::Help);
    EXPECT_EQ(parsedOk({"-h"}).action, CliOptions::Action::Help);
    EXPECT_EQ(parsedOk({"--version"}).action, CliOptions::Action::Version);
}

TEST(CliOptions, RejectsWhatCannotBeRunAndNamesTheCause)
{
    testing::TempDir dir;
    const std::string emptyFile = dir.write("empty", "").string();
    const std::string blankKey = dir.write("blank", "   \nKEY\n").string();
    const std::string folder = dir.folder();
    const auto run = [](std::vector<std::string> extra) {
        std::vector<std::string> arguments = {"--user", "u", "--data", "d"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        return arguments;
    };
    const struct
    {
        std::vector<std::string> arguments;
        std::string mentions;
        const char* environmentKey = nullptr;
    } cases[] = {
        {{"--user", "u", "--data", "d"}, "key"},
        {{"--key", "k", "--data", "d"}, "user"},
        {{"--key", "k", "--user", "u"}, "data"},
        {{"--key", "k", "--user", "u", "--data"}, "--data needs a value"},
        {{"--key", "k", "--user", "u", "--data", "d", "extra"}, "'extra'"},
        {{"--quiet=yes"}, "--quiet takes no value"},
        {run({"--key-file", "/nonexistent/key"}), "'/nonexistent/key': No such file"},
        {run({"--key-file", folder}), "'" + folder + "': Is a directory"},
        {run({"--key-file", emptyFile}), "key file '" + emptyFile + "' is empty"},
        {run({"--key-file", blankKey}), "key from key file '" + blankKey + "' is empty"},
        {run({"--key-file", "/dev/zero"}), "'/dev/zero' is longer than 4096 bytes"},
        {run({"--key", ""}), "key from --key is empty"},
        {run({"--key", "   "}), "key from --key is empty"},
        {run({}), "key from KQGET_KEY is empty", ""},
        {{"--key", "k", "--user", " ", "--data", "d"}, "user name from --user is empty"},
        {run({"--key", "k", "--jobs", "0"}), "--jobs takes a number from 1 to 16, not '0'"},
        {run({"--key", "k", "--jobs", "17"}), "not '17'"},
        {run({"--key", "k", "--jobs=4x"}), "not '4x'"},
        {run({"--key", "k", "--jobs", ""}), "not ''"},
        {run({"--key", "k", "--proxy", " "}), "--proxy needs a URL"},
        {run({"--key", "k", "--", "d"}), "'d': the command takes options only"},
    };
    for (const auto& c : cases) {
        const auto parsed = parseCliOptions(c.arguments, c.environmentKey);
        const auto* problem = std::get_if<CliUsageError>(&parsed);
        ASSERT_NE(problem, nullptr) << c.mentions;
        EXPECT_NE(problem->message.find(c.mentions), std::string::npos) << problem->message;
    }
}

} // namespace
} // namespace kqget

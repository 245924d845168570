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

TEST(CliOptions, RejectsWhatCannotBeRun)
{
    const struct
    {
        std::vector<std::string> arguments;
        std::string_view mentions;
    } cases[] = {
        {{"--user", "u", "--data", "d"}, "key"},
        {{"--key", "k", "--data", "d"}, "user"},
        {{"--key", "k", "--user", "u"}, "data"},
        {{"--key", "k", "--user", "u", "--data"}, "--data needs a value"},
        {{"--key", "k", "--user", "u", "--data", "d", "extra"}, "'extra'"},
        {{"--quiet=yes"}, "--quiet takes no value"},
        {{"--key-file", "/nonexistent/key", "--user", "u", "--data", "d"}, "/nonexistent/key"},
    };
    for (const auto& c : cases) {
        const auto parsed = parseCliOptions(c.arguments, nullptr);
        const auto* problem = std::get_if<CliUsageError>(&parsed);
        ASSERT_NE(problem, nullptr) << c.mentions;
        EXPECT_NE(problem->message.find(c.mentions), std::string::npos) << problem->message;
    }
}

} // namespace
} // namespace kqget

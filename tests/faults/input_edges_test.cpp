// Inputs at the edges: card folders with names a URL or a log line does not
// expect, a key and user name with inner spaces and letters beyond ASCII,
// links named like cards, and data folders that name the root.
#include "tests/faults/fault_test_fixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace kqget {
namespace {

using testing::ExpectedLog;
using testing::expectSameTree;
using testing::FaultTest;
using testing::FileTree;
using ::testing::HasSubstr;
using ::testing::Not;

TEST_F(FaultTest, OddCardNamesAndCredentialsReachTheServiceAndTheirFilesAsSent)
{
    const std::string key = "K&mlunusername=evil#%41 +\u00e9 Zm9v+YmFy/YQ==";
    const std::string user = "U=1&cardids=B9999 \u00dc";
    const std::vector<std::string> cards = {
        "A b",
        "A#1",
        "A%41", // already looks encoded
        "A+1",
        "A?1",
        "A&1", // ends the cardids value early
        "A\u00e91",
        "A\u00df\u00e7\u00f1\u00e9", // five characters in nine bytes
        "A\t1",
        "B\n1",
    };
    for (const auto& card : cards) {
        dir.makeFolder("Data/" + card);
    }
    std::filesystem::create_symlink("nowhere", dir.path() / "Data" / "C1");
    std::filesystem::create_symlink("C2", dir.path() / "Data" / "C2");

    const auto result =
        runCli({"--key", " " + key + " ", "--user", user, "--data", data(), "--quiet"});
    ASSERT_EQ(result.exitStatus, 0) << result.err;

    // Each card holds its own content for exactly the typed key and user
    // name, whatever the values do to a URL formed from them; the log keeps
    // the URLs as formed.
    FileTree expected = {{"C1", "-> nowhere"}, {"C2", "-> C2"}};
    const std::string text = log();
    for (const auto& card : cards) {
        SCOPED_TRACE(card);
        const std::string& xml = expected[card + "/" + card + ".xml"] =
            testing::CardService::expectedXml(card, key, user);
        const std::string& png = expected[card + "/" + card + "_full.png"] = pngOf(card);
        EXPECT_THAT(text, HasSubstr(ExpectedLog(dataFolder())
                                        .card(card)
                                        .xmlSize(card, 0)
                                        .fetched(infoUrl(card, key, user), xml.size())
                                        .pngSize(card, 0)
                                        .fetched(imageUrl(card), png.size())
                                        .text()));
    }
    expectSameTree(library(), expected);
    // A link that leads nowhere, or to itself, is not a card folder.
    EXPECT_THAT(text, Not(HasSubstr("C1")));
    EXPECT_THAT(text, Not(HasSubstr("C2")));
}

TEST_F(FaultTest, RootDataFoldersAreRefusedBeforeAnythingIsWritten)
{
    // At the root, /bin and /boot would pass for card folders and a run as
    // root would store bin.xml in /bin. A folder that only looks odd still works.
    dir.makeFolder("Data/A1");
    const FileTree before = library();
    for (const std::string typed : {"", "   ", "/", "//", "/./", "/tmp/..", "C:\\", "c:/"}) {
        SCOPED_TRACE("'" + typed + "'");
        const auto result = runCli({"--key", "KEY", "--user", "USER", "--data", typed, "--quiet"});
        EXPECT_EQ(result.exitStatus, 2);
        EXPECT_THAT(result.err, HasSubstr("error 10: data folder '"));
        EXPECT_THAT(result.err, HasSubstr("type instead the folder that holds the card folders"));
        EXPECT_FALSE(std::filesystem::exists(dir.path() / "KQ-GET-PNG-XML.txt"));
    }
    EXPECT_TRUE(service->requests().empty());
    expectSameTree(library(), before);

    const auto result =
        runCli({"--key", "KEY", "--user", "USER", "--data", dir.folder() + "/./Data//", "-q"});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(dir.read("Data/A1/A1.xml"), xmlOf("A1"));
}

} // namespace
} // namespace kqget

#include "update/card_locations.h"

#include <gtest/gtest.h>

namespace kqget {
namespace {

TEST(CardLocations, FormsPathsAndUrlsByPlainConcatenation)
{
    const ServiceHosts hosts{"http://info.test", "http://img.test"};
    const CardLocations cards(hosts, "K Y#", "us er", "/data/", '/');

    EXPECT_EQ(cards.folderPath("A0001"), "/data/A0001");
    EXPECT_EQ(cards.xmlPath("A0001"), "/data/A0001/A0001.xml");
    EXPECT_EQ(cards.illustrationPath("A0001"), "/data/A0001/A0001_full.png");
    EXPECT_EQ(cards.infoUrl("A0001"), "http://info.test/bof/bof.php?cmd=cardinfo&mlunkey=K Y#"
                                      "&mlunusername=us er&cardids=A0001&xmlonly=1");
    EXPECT_EQ(cards.imageUrl("A0001"),
              "http://img.test/free/sets/A0001/illustrations/A0001_full.png");
}

TEST(CardLocations, UsesTheGivenSeparator)
{
    const CardLocations cards({"http://i", "http://p"}, "k", "u", "C:\\cards\\", '\\');
    EXPECT_EQ(cards.xmlPath("B12"), "C:\\cards\\B12\\B12.xml");
    EXPECT_EQ(cards.illustrationPath("B12"), "C:\\cards\\B12\\B12_full.png");
    // Formed over what a string held for the card before.
    std::string path = "C:\\cards\\B1234\\B1234_full.png and more";
    cards.formXmlPath("B12", path);
    EXPECT_EQ(path, "C:\\cards\\B12\\B12.xml");
    cards.formFolderPath("B12", path);
    EXPECT_EQ(path, "C:\\cards\\B12");
}

TEST(ServiceHosts, ConfiguredBasesCarryTheirScheme)
{
    const ServiceHosts hosts = ServiceHosts::configured();
    for (const std::string& base : {hosts.infoBase, hosts.imageBase}) {
        EXPECT_TRUE(base.starts_with("http://") || base.starts_with("https://")) << base;
        EXPECT_FALSE(base.ends_with("/")) << base;
    }
    EXPECT_NE(hosts.infoBase, hosts.imageBase);
}

} // namespace
} // namespace kqget

#include "update/build_config.h"
#include "update/card_locations.h"
#include "update/service_bases.h"

#include <gtest/gtest.h>

namespace kqget {
namespace {

TEST(CardLocations, FormsPathsAndUrlsByPlainConcatenation)
{
    const ServiceHosts hosts{"http://info.test", "http://img.test"};
    const CardLocations cards(hosts, "K Y#", "us er", "/data/", '/');

    std::string path;
    cards.formFolderPath("A0001", path);
    EXPECT_EQ(path, "/data/A0001");
    cards.formXmlPath("A0001", path);
    EXPECT_EQ(path, "/data/A0001/A0001.xml");
    cards.formIllustrationPath("A0001", path);
    EXPECT_EQ(path, "/data/A0001/A0001_full.png");
    EXPECT_EQ(cards.infoUrl("A0001"), "http://info.test/bof/bof.php?cmd=cardinfo&mlunkey=K Y#"
                                      "&mlunusername=us er&cardids=A0001&xmlonly=1");
    EXPECT_EQ(cards.imageUrl("A0001"),
              "http://img.test/free/sets/A0001/illustrations/A0001_full.png");
}

TEST(CardLocations, UsesTheGivenSeparator)
{
    const CardLocations cards({"http://i", "http://p"}, "k", "u", "C:\\cards\\", '\\');
    // Formed over what a string held for the card before.
    std::string path = "C:\\cards\\B1234\\B1234_full.png and more";
    cards.formIllustrationPath("B12", path);
    EXPECT_EQ(path, "C:\\cards\\B12\\B12_full.png");
    cards.formXmlPath("B12", path);
    EXPECT_EQ(path, "C:\\cards\\B12\\B12.xml");
    cards.formFolderPath("B12", path);
    EXPECT_EQ(path, "C:\\cards\\B12");
}

// The origins tell the hosts apart, so that a host that asks for a wait holds
// up only its own fetches; a build whose two bases are one host has one.
TEST(ServiceHosts, EachBaseIsTheOriginOfItsFetches)
{
    const struct
    {
        const char* name;
        ServiceHosts hosts;
        bool oneHost;
    } cases[] = {
        {"the configured bases", ServiceBases::configured().hosts(),
         kConfiguredInfoBase == kConfiguredImageBase},
        {"two hosts", {"http://info.test", "https://img.test"}, false},
        {"one host for both", {"https://cards.test:8443", "https://cards.test:8443"}, true},
        {"one name, two ports", {"http://cards.test:8080", "http://cards.test:8081"}, false},
        {"one name, two schemes", {"http://cards.test", "https://cards.test"}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const CardLocations cards(c.hosts, "k", "u", "/data/", '/');
        EXPECT_EQ(cards.infoOrigin(), c.hosts.infoBase);
        EXPECT_EQ(cards.imageOrigin(), c.hosts.imageBase);
        EXPECT_EQ(cards.infoOrigin() == cards.imageOrigin(), c.oneHost);
        EXPECT_TRUE(cards.infoUrl("A1").starts_with(c.hosts.infoBase + "/bof/"));
        EXPECT_TRUE(cards.imageUrl("A1").starts_with(c.hosts.imageBase + "/free/"));
    }
}

// Option over variable over the user's settings file over the machine's over
// the build's, whatever the order they are taken in, each checked as the
// build checks its own: a path would be doubled or lost in the URLs; a
// trailing '/' is dropped. A bad setting is refused also where overridden.
TEST(ServiceSettings, OptionOverVariableOverFilesOverBuildAndOnlySchemeHostAndPort)
{
    const struct
    {
        std::string option;   // --info-base; empty: none
        std::string variable; // KQGET_INFO_BASE; empty: none
        bool userFile;
        bool machineFile;
        std::string info;  // the base in effect, or the start of the refusal
        std::string setBy; // empty: refused
    } cases[] = {
        {"", "", false, false, ServiceBases::configured().info.url, "the build's default"},
        {"", "https://env.test", true, true, "https://env.test", "KQGET_INFO_BASE"},
        {"http://opt.test:8080", "https://env.test", true, false, "http://opt.test:8080",
         "--info-base"},
        {"http://opt.test/", "", false, false, "http://opt.test", "--info-base"},
        {"", "", true, true, "http://user.test", "line 2 of /u/kqget.conf"},
        {"", "", false, true, "http://machine.test", "line 1 of /etc/kqget.conf"},
        {"http://opt.test/x", "", false, false, "--info-base must be http:// or https://", ""},
        {"", "ftp://env.test", false, false, "KQGET_INFO_BASE must be", ""},
        {"", "http://", false, false, "KQGET_INFO_BASE must be", ""},
        {"", "http://a b", false, false, "KQGET_INFO_BASE must be", ""},
        {"http://opt.test", "env.test", false, false, "KQGET_INFO_BASE must be", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.option + c.variable + c.info);
        ServiceSettings settings(false, "");
        if (c.userFile) {
            settings.takeFile(ServiceSettings::UserFile, "/u/kqget.conf",
                              "# mine\ninfo-base = http://user.test/\n");
        }
        if (!c.option.empty()) {
            settings.take(ServiceSettings::Option, "info-base", c.option, "--info-base");
        }
        if (c.machineFile) {
            settings.takeFile(ServiceSettings::MachineFile, "/etc/kqget.conf",
                              "info-base = http://machine.test\nimage-base = http://img.test\n");
        }
        if (!c.variable.empty()) {
            settings.take(ServiceSettings::Variable, "info-base", c.variable, "KQGET_INFO_BASE");
        }
        const ServiceBases& bases = settings.bases;
        if (c.setBy.empty()) {
            EXPECT_TRUE(settings.problem.starts_with(c.info)) << settings.problem;
            continue;
        }
        ASSERT_EQ(settings.problem, "");
        EXPECT_EQ(bases.info.url, c.info);
        EXPECT_EQ(bases.info.setBy, c.setBy);
        const std::string host = c.info.substr(c.info.find("://") + 3);
        EXPECT_EQ(bases.unresolvedHostNote(c.info + "/bof/bof.php?cmd=cardinfo"),
                  "; " + host.substr(0, host.find(':')) + " is the info base's host, set by " +
                      c.setBy + "; to change it, set KQGET_INFO_BASE");
        EXPECT_EQ(bases.unresolvedHostNote("http://elsewhere.test/x"), "");
    }
    // The command names its option, and either program the user's own file.
    ServiceSettings command(true, "/u/kqget.conf");
    command.takeFile(ServiceSettings::MachineFile, "/etc/kqget.conf",
                     "info-base = http://machine.test\nimage-base = http://img.test\n");
    EXPECT_EQ(command.bases.unresolvedHostNote("http://img.test/free/x"),
              "; img.test is the image base's host, set by line 2 of /etc/kqget.conf; to change "
              "it, give --image-base URL, set KQGET_IMAGE_BASE or write 'image-base = URL' into "
              "/u/kqget.conf");
}

// One form on every system: a byte-order mark, CR LF, blanks, comments; a
// line that is no setting is named by its file and number.
TEST(ServiceSettings, TakesNameEqualsValueLinesAndNamesTheLineItCannotTake)
{
    const struct
    {
        std::string text;
        std::string info;  // info-base, "line:value"; or the start of the refusal
        std::string image; // image-base; empty: none
    } cases[] = {
        {"", "", ""},
        {"\xEF\xBB\xBF# all\r\n\r\n  info-base=http://i.test:8080 # here\r\n"
         "\timage-base =\thttps://img.test/\r\n",
         "3:http://i.test:8080", "4:https://img.test"},
        {"info-base = http://a.test\ninfo-base = http://b.test", "2:http://b.test", ""},
        {"\n\ninfo-base http://a.test\n",
         "'f.conf' line 3: 'info-base http://a.test' is no setting", ""},
        {"info_base = http://a.test\n", "'f.conf' line 1: unknown setting 'info_base'", ""},
        {"[kqget]\n", "'f.conf' line 1: '[kqget]' is no setting", ""},
        {"image-base = http://a.test/x\n", "'f.conf' line 1: image-base must be http://", ""},
    };
    const auto shown = [](const ServiceBase& base) {
        return base.setBy.starts_with("line ")
                   ? base.setBy.substr(5, base.setBy.find(' ', 5) - 5) + ":" + base.url
                   : std::string();
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        ServiceSettings settings(false, "");
        settings.takeFile(ServiceSettings::UserFile, "f.conf", c.text);
        if (!settings.problem.empty()) {
            EXPECT_EQ(settings.problem.find("settings file " + c.info), 0u) << settings.problem;
            continue;
        }
        EXPECT_EQ(shown(settings.bases.info), c.info);
        EXPECT_EQ(shown(settings.bases.image), c.image);
    }
}

} // namespace
} // namespace kqget

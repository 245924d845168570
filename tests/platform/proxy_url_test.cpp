#include "platform/proxy_url.h"
#include "update/run_error.h"

#include <gtest/gtest.h>

#include <map>

namespace kqget {
namespace {

TEST(ProxyUrl, CredentialsAreDecodedAndNeverShown)
{
    const struct
    {
        std::string_view text;
        std::string server;
        std::optional<std::string> user;
        std::optional<std::string> password;
        std::string shown;
    } cases[] = {
        {"proxy.test:3128", "http://proxy.test:3128", {}, {}, "http://proxy.test:3128"},
        {"HTTP://u:p@proxy.test:3128/", "http://proxy.test:3128", "u", "p",
         "http://u:…@proxy.test:3128"},
        {"http://d%5Cbob:s3cr%40t:x@[::1]:8080", "http://[::1]:8080", "d\\bob", "s3cr@t:x",
         "http://d\\bob:…@[::1]:8080"},
        {"http://a:b@c@proxy.test", "http://proxy.test", "a", "b@c", "http://a:…@proxy.test"},
        {"http://bob@proxy.test:1", "http://proxy.test:1", "bob", {}, "http://bob@proxy.test:1"},
    };
    for (const auto& c : cases) {
        const ProxyUrl proxy = parseProxyUrl(c.text);
        EXPECT_EQ(proxy.withoutCredentials(), c.server);
        EXPECT_EQ(proxy.user, c.user);
        EXPECT_EQ(proxy.password, c.password);
        EXPECT_EQ(proxy.shown(), c.shown);
    }
    try {
        parseProxyUrl("http://u:secret@", "http_proxy");
        ADD_FAILURE() << "a proxy without a host was taken";
    } catch (const RunError& error) {
        EXPECT_STREQ(error.what(),
                     "cannot use the proxy 'http://u:…@' from http_proxy: it names no host");
    }
}

TEST(ProxyUrl, ChosenForEachUrlAsTheEnvironmentSays)
{
    const std::map<std::string, std::string> environment = {
        {"http_proxy", "http://plain:1"},
        {"HTTPS_PROXY", "http://secure:2"},
        {"no_proxy", "localhost, .inside.test,Exact.Test"}};
    const auto lookup = [&environment](const char* name) -> std::optional<std::string> {
        const auto found = environment.find(name);
        return found == environment.end() ? std::nullopt : std::optional(found->second);
    };
    const struct
    {
        std::string_view url;
        std::string_view given;
        std::optional<std::string> proxy;
        std::string source;
    } cases[] = {
        {"http://info.test/bof", "", "http://plain:1", "http_proxy"},
        {"https://info.test/bof", "", "http://secure:2", "HTTPS_PROXY"},
        {"https://info.test/bof", "http://given:3", "http://given:3", ""},
        {"http://a.inside.test:81/x", "", std::nullopt, ""},
        {"http://inside.test/x", "http://given:3", std::nullopt, ""},
        {"http://exact.test/x", "", std::nullopt, ""},
        {"http://notinside.test/x", "", "http://plain:1", "http_proxy"},
        {"http://localhost:8080/x", "", std::nullopt, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.url) + " given '" + std::string(c.given) + "'");
        const auto chosen = proxyFor(c.url, c.given, lookup);
        EXPECT_EQ(chosen.has_value(), c.proxy.has_value());
        if (chosen && c.proxy) {
            EXPECT_EQ(chosen->withoutCredentials(), *c.proxy);
            EXPECT_EQ(chosen->source, c.source);
        }
    }
}

} // namespace
} // namespace kqget

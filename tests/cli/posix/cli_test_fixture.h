#pragma once

#include "tests/support/expected_urls.h"
#include "tests/support/posix/child_process.h"
#include "tests/support/scoped_environment.h"
#include "tests/support/temp_dir.h"
#include "tools/card-service/card_service.h"

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace kqget::testing {

// Runs the built kqget-cli in a temporary folder (which is where its log goes)
// against the stand-in card service, reached as the HTTP proxy.
class CliTest : public ::testing::Test
{
protected:
    CliTest() : service(std::make_unique<CardService>()) {}

    ChildResult runCli(std::vector<std::string> arguments,
                       std::map<std::string, std::string> environment = {},
                       std::function<void(int)> whileRunning = {})
    {
        ChildOptions options;
        options.arguments = std::move(arguments);
        options.setEnv = std::move(environment);
        options.whileRunning = std::move(whileRunning);
        return runCliWith(std::move(options));
    }

    // kqget-cli with what a test sets in `options` kept (another working
    // folder, its own http_proxy), optionally behind a launcher such as
    // unshare or chroot whose last argument names the program.
    ChildResult runCliWith(ChildOptions options, std::vector<std::string> launcher = {})
    {
        if (options.workingDirectory.empty()) {
            options.workingDirectory = dir.path().string();
        }
        options.unsetEnv.insert(options.unsetEnv.end(),
                                {"KQGET_KEY", "no_proxy", "NO_PROXY", "all_proxy", "ALL_PROXY"});
        options.setEnv.try_emplace("http_proxy", service->baseUrl());
        // The user's settings file is the test's own (settingsFile()).
        options.setEnv.try_emplace("XDG_CONFIG_HOME", dir.folder() + "config");
        if (launcher.empty()) {
            return runChild(KQGET_CLI_PATH, options);
        }
        const std::string program = launcher.front();
        launcher.erase(launcher.begin());
        options.arguments.insert(options.arguments.begin(), launcher.begin(), launcher.end());
        return runChild(program, options);
    }

    std::string data() const { return dir.folder() + "Data"; }
    std::string logPath() const { return dir.folder() + "KQ-GET-PNG-XML.txt"; }
    std::string settingsFile() const { return dir.folder() + "config/kqget/kqget.conf"; }

    // The summary with its "Time: ..." line dropped, since no two runs take
    // the same time.
    static std::string withoutWallTime(std::string summary)
    {
        const auto start = summary.find("\nTime: ");
        if (start != std::string::npos) {
            summary.erase(start + 1, summary.find('\n', start + 1) - start);
        }
        return summary;
    }
    std::string log() const { return dir.read("KQ-GET-PNG-XML.txt"); }

    static std::string infoUrl(std::string_view card, std::string_view key = "KEY",
                               std::string_view user = "USER")
    {
        return configuredInfoUrl(card, key, user);
    }
    // As messages on screen show it: the key reads "…".
    static std::string shownInfoUrl(std::string_view card) { return infoUrl(card, "…"); }
    static std::string imageUrl(std::string_view card) { return configuredImageUrl(card); }

    TempDir dir;
    std::unique_ptr<CardService> service;
};

} // namespace kqget::testing

#pragma once

#include "tests/support/child_process.h"
#include "tests/support/expected_urls.h"
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
        options.workingDirectory = dir.path().string();
        options.unsetEnv = {"KQGET_KEY", "no_proxy", "NO_PROXY", "all_proxy", "ALL_PROXY"};
        options.setEnv = {{"http_proxy", service->baseUrl()}};
        for (auto& [name, value] : environment) {
            options.setEnv[name] = value;
        }
        options.whileRunning = std::move(whileRunning);
        return runChild(KQGET_CLI_PATH, options);
    }

    std::string data() const { return dir.folder() + "Data"; }
    std::string log() const { return dir.read("KQ-GET-PNG-XML.txt"); }

    static std::string infoUrl(std::string_view card, std::string_view key = "KEY",
                               std::string_view user = "USER")
    {
        return configuredInfoUrl(card, key, user);
    }
    static std::string imageUrl(std::string_view card) { return configuredImageUrl(card); }

    TempDir dir;
    std::unique_ptr<CardService> service;
};

} // namespace kqget::testing

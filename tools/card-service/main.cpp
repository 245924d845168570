// Runs the stand-in card service until SIGTERM or SIGINT, for scripts and
// for trying the window against it. The first line on stdout is the port.

#include "tools/card-service/card_service.h"

#include <charconv>
#include <csignal>
#include <iostream>
#include <optional>
#include <pthread.h>
#include <span>
#include <string_view>

namespace {

using kqget::testing::CardService;
using kqget::testing::CardServiceOptions;
using kqget::testing::Fault;

constexpr int kUsageExit = 64;
constexpr std::string_view kUsage =
    R"(usage: kqget-card-service [--port N] [--latency-ms N] [FAULT...] [--match TEXT FAULT...]...
Serves the card paths on 127.0.0.1 and prints the port as its first line.
  --port N                  listen on N (default: any free port)
  --latency-ms N            wait N ms before every response
  --certificate PEM         speak TLS only, with this certificate
  --private-key PEM         and this key
  --print-targets           print each request's target on its own line
  --match TEXT              the faults after it apply to targets containing TEXT;
                            faults before the first --match apply to all others
FAULT:
  --status N                reply N: outside 2xx a small error page; 203 the
                            content, 204 and 205 none, 206 its first half
  --delay-ms N              send nothing for N ms, then reply
  --stall-after-headers-ms N  send the headers, then nothing for N ms
  --drip-bytes N            send the body N bytes at a time
  --drip-pause-ms N         with N ms between the pieces
  --drop-mid-body           announce the whole length, send half, close
  --chunked-body            send the body chunked, without a length
  --empty-body              200 with an empty body
  --redirect-hops N         N redirects before the content
  --redirect-loop           redirect to the same target forever
  --redirect-to BASE        redirect to BASE followed by the request's own path
  --oversized-body          a chunked body over 64 MiB
  --body-bytes N            a body of N bytes, announced: the content's start, then filler
  --body TEXT               a 200 body of exactly TEXT instead of the content
  --cut-at N                the content cut after N bytes, sent as if whole
  --gzip-body               the content gzip-encoded, whatever the client offered
  --content-encoding NAME   send Content-Encoding: NAME with the body as it is
  --retry-after TEXT        send Retry-After: TEXT with the --status reply
  --times N                 the fault hits only the first N requests of each target
  --proxy-credentials U:P   as a proxy, 407 unless Basic credentials U:P come
)";

struct Rule
{
    std::string match;
    Fault fault;
};

struct Settings
{
    CardServiceOptions options;
    std::vector<Rule> rules;
};

template <typename Number> std::optional<Number> parseNumber(std::string_view text)
{
    Number value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < 0) {
        return std::nullopt;
    }
    return value;
}

// Applies one switch; false when it is unknown or its value is not a number.
bool applySwitch(std::string_view name, std::span<char*>::iterator& next,
                 std::span<char*>::iterator end, Settings& settings, Rule& rule)
{
    auto value = [&]() -> std::optional<std::string_view> {
        if (next == end) {
            return std::nullopt;
        }
        return std::string_view(*next++);
    };
    auto number = [&]() -> std::optional<long> {
        const auto text = value();
        return text ? parseNumber<long>(*text) : std::nullopt;
    };
    auto milliseconds = [&](std::chrono::milliseconds& target) {
        const auto n = number();
        if (n) {
            target = std::chrono::milliseconds(*n);
        }
        return n.has_value();
    };

    Fault& fault = rule.fault;
    if (name == "--port") {
        const auto n = number();
        settings.options.port = static_cast<int>(n.value_or(0));
        return n && *n <= 65535;
    }
    if (name == "--certificate" || name == "--private-key") {
        const auto text = value();
        (name == "--certificate" ? settings.options.certificatePath
                                 : settings.options.privateKeyPath) =
            std::string(text.value_or(""));
        return text.has_value();
    }
    if (name == "--print-targets") {
        settings.options.onRequest = [](const kqget::testing::ReceivedRequest& request) {
            std::cout << request.target << std::endl;
        };
        return true;
    }
    if (name == "--latency-ms") {
        return milliseconds(settings.options.latency);
    }
    if (name == "--status") {
        const auto n = number();
        fault.status = static_cast<int>(n.value_or(0));
        return n && *n >= 100 && *n <= 999;
    }
    if (name == "--delay-ms") {
        return milliseconds(fault.delay);
    }
    if (name == "--stall-after-headers-ms") {
        return milliseconds(fault.stallAfterHeaders);
    }
    if (name == "--drip-bytes") {
        const auto n = number();
        fault.dripBytes = static_cast<std::size_t>(n.value_or(0));
        return n.has_value();
    }
    if (name == "--body-bytes") {
        const auto n = number();
        fault.bodyBytes = static_cast<std::size_t>(n.value_or(0));
        return n.has_value();
    }
    if (name == "--body" || name == "--content-encoding" || name == "--redirect-to") {
        const auto text = value();
        (name == "--body"               ? fault.body
         : name == "--content-encoding" ? fault.contentEncoding
                                        : fault.redirectTo) = std::string(text.value_or(""));
        return text.has_value();
    }
    if (name == "--cut-at") {
        const auto n = number();
        fault.cutAt = static_cast<std::size_t>(n.value_or(0));
        return n.has_value();
    }
    if (name == "--drip-pause-ms") {
        return milliseconds(fault.dripPause);
    }
    if (name == "--retry-after") {
        const auto text = value();
        fault.retryAfter = std::string(text.value_or(""));
        return text.has_value();
    }
    if (name == "--proxy-credentials") {
        const auto text = value().value_or("");
        const auto colon = text.find(':');
        fault.proxyUser = std::string(text.substr(0, colon));
        fault.proxyPassword =
            colon == std::string_view::npos ? std::string() : std::string(text.substr(colon + 1));
        return !fault.proxyUser.empty();
    }
    if (name == "--times") {
        const auto n = number();
        fault.times = static_cast<int>(n.value_or(0));
        return n && *n <= 1000000;
    }
    if (name == "--redirect-hops") {
        const auto n = number();
        fault.redirectHops = static_cast<int>(n.value_or(0));
        return n && *n <= 1000;
    }
    const std::pair<std::string_view, bool Fault::*> flags[] = {
        {"--drop-mid-body", &Fault::dropMidBody},    {"--chunked-body", &Fault::chunkedBody},
        {"--empty-body", &Fault::emptyBody},         {"--redirect-loop", &Fault::redirectLoop},
        {"--oversized-body", &Fault::oversizedBody}, {"--gzip-body", &Fault::gzipBody},
    };
    for (const auto& [flag, member] : flags) {
        if (name == flag) {
            fault.*member = true;
            return true;
        }
    }
    return false;
}

std::optional<Settings> parseArguments(std::span<char*> arguments)
{
    Settings settings;
    Rule everyRequest;
    bool everyRequestSet = false;
    std::optional<Rule> matched;
    for (auto next = arguments.begin(); next != arguments.end();) {
        const std::string_view name(*next++);
        if (name == "--match") {
            if (next == arguments.end()) {
                return std::nullopt;
            }
            if (matched) {
                settings.rules.push_back(std::move(*matched));
            }
            matched = Rule{*next++, {}};
            continue;
        }
        Rule& rule = matched ? *matched : everyRequest;
        if (!applySwitch(name, next, arguments.end(), settings, rule)) {
            return std::nullopt;
        }
        everyRequestSet = everyRequestSet || !matched;
    }
    if (matched) {
        settings.rules.push_back(std::move(*matched));
    }
    if (everyRequestSet) {
        settings.rules.push_back(std::move(everyRequest));
    }
    return settings;
}

} // namespace

int main(int argc, char** argv)
{
    const std::span<char*> arguments(argv + 1, argv + argc);
    for (const std::string_view argument : arguments) {
        if (argument == "--help" || argument == "-h") {
            std::cout << kUsage;
            return 0;
        }
    }
    const std::optional<Settings> settings = parseArguments(arguments);
    if (!settings) {
        std::cerr << kUsage;
        return kUsageExit;
    }

    // Blocked before the service starts its threads, so that only sigwait
    // below takes them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    try {
        CardService service(settings->options);
        for (const Rule& rule : settings->rules) {
            service.addFault(rule.match, rule.fault);
        }
        std::cout << service.port() << std::endl;
        int received = 0;
        sigwait(&stopSignals, &received);
    } catch (const std::exception& error) {
        std::cerr << "kqget-card-service: " << error.what() << '\n';
        return 1;
    }
    return 0;
}

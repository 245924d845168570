#pragma once

#include "platform/posix/curl_library.h"
#include "platform/proxy_url.h"
#include "platform/transfer_options.h"
#include "update/run_error.h"
#include "update/transfer_port.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kqget {

// Setting up libcurl and the requests that go through it.

struct EasyCleanup
{
    void operator()(CURL* easy) const noexcept { curlLibrary().easy_cleanup(easy); }
};
struct MultiCleanup
{
    void operator()(CURLM* multi) const noexcept { curlLibrary().multi_cleanup(multi); }
};
using UniqueEasy = std::unique_ptr<CURL, EasyCleanup>;
using UniqueMulti = std::unique_ptr<CURLM, MultiCleanup>;

// Loads and initialises libcurl once for the process; why it could not, if
// it could not.
std::optional<FetchFailure> curlGlobalFailure();

// A multi handle that keeps every job's connection between fetches. Throws
// RunError when libcurl cannot make one.
UniqueMulti makeMulti();

// A handle with every setting a fetch shares with the others; it keeps them
// from fetch to fetch. Throws RunError.
UniqueEasy makeEasy(const TransferOptions& options);

// The proxy a fetch goes through, as the user set it.
struct ChosenProxy
{
    ProxyUrl url;
    std::string source; // the environment variable it came from; empty: --proxy
};

// Aims a handle at one URL, as the run formed it, through the proxy that
// `options` or the environment choose for it, which it returns. Throws RunError.
std::optional<ChosenProxy> aimEasy(CURL* easy, std::string_view url,
                                   const TransferOptions& options);

template <typename Value> void setOption(CURL* easy, CURLoption option, Value value)
{
    const CURLcode code = curlLibrary().easy_setopt(easy, option, value);
    if (code != CURLE_OK) {
        throw RunError(ErrorNumber::Transfer,
                       "cannot set up libcurl: option " + std::to_string(option) + ": curl error " +
                           std::to_string(code) + ": " + curlLibrary().easy_strerror(code));
    }
}

} // namespace kqget

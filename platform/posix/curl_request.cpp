#include "platform/posix/curl_transfer.h"
#include "platform/wire_url.h"
#include "update/build_config.h"
#include "update/run_options.h"

#include <cstdlib>

namespace kqget {

namespace {

constexpr const char* kAllowedProtocols = "http,https";
// The key travels in the query: a fetch that began over https follows a
// redirect only to https, so that the key never goes out in clear.
constexpr const char* kSecureProtocols = "https";
// Idle connections kept for reuse: every job's, to either host. libcurl would
// size its cache from the handles added at the moment, and reconnect.
constexpr long kConnectionsKept = 2 * static_cast<long>(kMaxJobs);

} // namespace

UniqueMulti makeMulti()
{
    static const CURLcode init = curlLibrary().global_init(CURL_GLOBAL_DEFAULT);
    if (init != CURLE_OK) {
        throw RunError(ErrorNumber::Transfer, "cannot initialise libcurl: curl error " +
                                                  std::to_string(init) + ": " +
                                                  curlLibrary().easy_strerror(init));
    }
    UniqueMulti multi(curlLibrary().multi_init());
    if (!multi) {
        throw RunError(ErrorNumber::Transfer, "cannot set up libcurl: no multi handle");
    }
    curlLibrary().multi_setopt(multi.get(), CURLMOPT_MAXCONNECTS, kConnectionsKept);
    return multi;
}

UniqueEasy makeEasy(const TransferOptions& options)
{
    UniqueEasy easy(curlLibrary().easy_init());
    if (!easy) {
        throw RunError(ErrorNumber::Transfer, "cannot set up libcurl: no handle");
    }
    CURL* handle = easy.get();
    setOption(handle, CURLOPT_NOSIGNAL, 1L);
    setOption(handle, CURLOPT_PROTOCOLS_STR, kAllowedProtocols);
    setOption(handle, CURLOPT_FOLLOWLOCATION, 1L);
    // libcurl follows without limit unless told.
    setOption(handle, CURLOPT_MAXREDIRS, options.maxRedirects);
    setOption(handle, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(options.connectTimeout.count()));
    // Refuses an announced oversized body before it comes; a chunked one is
    // caught as it is read.
    setOption(handle, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(options.bodySizeCap));
    // Every coding this libcurl can undo is offered and undone as the body
    // arrives, so that a card file is stored as the card product reads it
    // and the size cap counts decoded bytes.
    setOption(handle, CURLOPT_ACCEPT_ENCODING, "");
    setOption(handle, CURLOPT_BUFFERSIZE, static_cast<long>(kReceiveBufferBytes));
    const std::string userAgent = "kqget/" + std::string(kDisplayVersion);
    setOption(handle, CURLOPT_USERAGENT, userAgent.c_str());
    // Whatever scheme a proxy asks for, once it has said so with a 407.
    setOption(handle, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_ANY));
    // libcurl's defaults, stated because the key travels in the query: over
    // https:// it goes only to a host whose certificate the CA store vouches for.
    setOption(handle, CURLOPT_SSL_VERIFYPEER, 1L);
    setOption(handle, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!options.caBundlePath.empty()) {
        setOption(handle, CURLOPT_CAINFO, options.caBundlePath.c_str());
    }
    return easy;
}

std::optional<ProxyUrl> aimEasy(CURL* easy, std::string_view url, const TransferOptions& options)
{
    // Chosen here rather than by libcurl, so that a failure can name the proxy.
    const auto proxy = proxyFor(url, options.proxy, [](const char* name) {
        const char* value = std::getenv(name);
        return value == nullptr ? std::nullopt : std::optional<std::string>(value);
    });
    // An empty proxy goes straight to the server, whatever the environment says.
    const std::string server = proxy ? proxy->withoutCredentials() : std::string();
    setOption(easy, CURLOPT_PROXY, server.c_str());
    const auto credential = [](const std::optional<std::string>& value) {
        return value ? value->c_str() : nullptr;
    };
    setOption(easy, CURLOPT_PROXYUSERNAME, proxy ? credential(proxy->user) : nullptr);
    setOption(easy, CURLOPT_PROXYPASSWORD, proxy ? credential(proxy->password) : nullptr);

    const std::string wire = wireUrl(url);
    setOption(easy, CURLOPT_URL, wire.c_str());
    setOption(easy, CURLOPT_REDIR_PROTOCOLS_STR,
              isHttps(wire) ? kSecureProtocols : kAllowedProtocols);
    // Over HTTP/2 the fetches share one connection rather than each opening
    // its own and paying its own TLS handshake. HTTP/2 comes only over TLS;
    // over plain HTTP, waiting would hold the first fetches until the first
    // reply shows the server's version.
    setOption(easy, CURLOPT_PIPEWAIT, isHttps(wire) ? 1L : 0L);
    return proxy;
}

} // namespace kqget

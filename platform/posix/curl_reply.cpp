#include "platform/certificate_reason.h"
#include "platform/content_coding.h"
#include "platform/posix/curl_transfer.h"
#include "platform/retry_after.h"

#include <ctime>
#include <openssl/x509_vfy.h>
#include <optional>
#include <string>
#include <utility>

namespace kqget {

namespace {

constexpr long kProxyAuthenticationRequired = 407;

// The value of the last reply's header `name`, if it has one.
std::optional<std::string_view> headerOf(CURL* easy, const char* name)
{
    curl_header* header = nullptr;
    if (curlLibrary().easy_header(easy, name, 0, CURLH_HEADER, -1, &header) != CURLHE_OK) {
        return std::nullopt;
    }
    return header->value;
}

// Read by the project's own parser, as on every system: libcurl's date
// parser takes forms HTTP does not allow.
std::optional<std::chrono::seconds> retryAfterOf(CURL* easy)
{
    const auto value = headerOf(easy, "Retry-After");
    return value ? retryAfterWait(*value, std::time(nullptr)) : std::nullopt;
}

// libcurl says only that the server failed verification; OpenSSL's verify
// result says why. A chain that verified was refused by libcurl's own check
// of the host name, which leaves the result OK or unspecified.
std::optional<CertificateReason> certificateReasonOf(CURL* easy, CURLcode result)
{
    if (result != CURLE_PEER_FAILED_VERIFICATION) {
        return std::nullopt;
    }
    long verifyResult = X509_V_OK;
    curlLibrary().easy_getinfo(easy, CURLINFO_SSL_VERIFYRESULT, &verifyResult);
    switch (verifyResult) {
    case X509_V_OK:
    case X509_V_ERR_UNSPECIFIED:
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return CertificateReason::WrongName;
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return CertificateReason::Expired;
    case X509_V_ERR_CERT_REVOKED:
        return CertificateReason::Revoked;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_CERT_UNTRUSTED:
    case X509_V_ERR_INVALID_CA:
        return CertificateReason::Untrusted;
    default:
        return std::nullopt;
    }
}

// The coding that libcurl could not undo: one it does not know, or the one
// whose stream is broken.
std::string undecodedCoding(CURL* easy)
{
    const auto value = headerOf(easy, "Content-Encoding");
    if (!value) {
        return "an unknown coding";
    }
    std::string coding = undecodableCoding(*value, {"gzip", "x-gzip", "deflate", "br", "zstd"});
    return coding.empty() ? std::string(*value) : coding;
}

// Where a redirect that left https pointed: the protocols allowed after a
// redirect stop it before anything is sent there, with the URL it would have
// gone to as the effective one.
std::optional<std::string> refusedRedirect(CURL* easy, CURLcode result, std::string_view url)
{
    const char* location = nullptr;
    if (result != CURLE_UNSUPPORTED_PROTOCOL ||
        curlLibrary().easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &location) != CURLE_OK ||
        location == nullptr || !leavesHttps(url, location)) {
        return std::nullopt;
    }
    return std::string(location);
}

} // namespace

void CurlFetch::prepare(std::size_t bodySizeCap)
{
    CURL* handle = easy.get();
    setOption(handle, CURLOPT_ERRORBUFFER, m_errorBuffer.data());
    setOption(handle, CURLOPT_WRITEFUNCTION, &CurlFetch::onBody);
    setOption(handle, CURLOPT_WRITEDATA, this);
    setOption(handle, CURLOPT_HEADERFUNCTION, &CurlFetch::onHeader);
    setOption(handle, CURLOPT_HEADERDATA, this);
    setOption(handle, CURLOPT_PREREQFUNCTION, &CurlFetch::onRequest);
    setOption(handle, CURLOPT_PREREQDATA, this);
    setOption(handle, CURLOPT_PRIVATE, this);
    m_bodyCap = bodySizeCap;
}

// Tells the sink of the reply whose body comes now (or, for an empty one,
// that has ended); redirects pass no body through here.
bool CurlFetch::begin()
{
    if (!m_begun) {
        m_begun = true;
        long status = 0;
        curlLibrary().easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &status);
        curl_off_t length = -1;
        curlLibrary().easy_getinfo(easy.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        // A proxy's 407 is no card file's reply; outcome() says what it means.
        m_sinkRefused =
            (status == kProxyAuthenticationRequired && proxy) ||
            !sink->begin(status, length < 0 ? std::nullopt : std::optional<std::uint64_t>(length));
    }
    return !m_sinkRefused;
}

size_t CurlFetch::onBody(char* data, size_t size, size_t count, void* context) noexcept
{
    auto& fetch = *static_cast<CurlFetch*>(context);
    const size_t length = size * count;
    fetch.lastByte = Clock::now();
    fetch.pace.bytes += length;
    if (length > fetch.m_bodyCap - fetch.m_received) {
        // Stops the transfer; the bytes so far are no use to anybody.
        fetch.m_overSizeCap = true;
        return CURL_WRITEFUNC_ERROR;
    }
    fetch.m_received += length;
    if (!fetch.begin() || !fetch.sink->write(std::string_view(data, length))) {
        fetch.m_sinkRefused = true;
        return CURL_WRITEFUNC_ERROR;
    }
    return length;
}

size_t CurlFetch::onHeader(char*, size_t size, size_t count, void* context) noexcept
{
    auto& fetch = *static_cast<CurlFetch*>(context);
    fetch.lastByte = Clock::now();
    fetch.pace.bytes += size * count;
    return size * count;
}

// Called once the connection stands, new or reused, so the connect time-out
// alone covers connecting.
int CurlFetch::onRequest(void* context, char*, char*, int, int) noexcept
{
    auto& fetch = *static_cast<CurlFetch*>(context);
    fetch.requestSent = true;
    fetch.lastByte = Clock::now();
    fetch.pace.restart(fetch.lastByte);
    return CURL_PREREQFUNC_OK;
}

FinishedFetch CurlFetch::outcome(CURLcode result, const ServiceBases& bases)
{
    CURL* handle = easy.get();
    long status = 0;
    curlLibrary().easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    long connectStatus = 0; // the proxy's answer to a tunnel's CONNECT
    curlLibrary().easy_getinfo(handle, CURLINFO_HTTP_CONNECTCODE, &connectStatus);
    if (proxy &&
        (status == kProxyAuthenticationRequired || connectStatus == kProxyAuthenticationRequired)) {
        return {ticket, FetchFailure{ErrorNumber::Transfer, proxyAsksCredentialsText(*proxy)}};
    }
    if (result == CURLE_OK && begin()) {
        return {ticket, FetchResult{status, false, retryAfterOf(handle)}};
    }
    if (m_overSizeCap || result == CURLE_FILESIZE_EXCEEDED) {
        return {ticket, FetchResult{status, true}};
    }
    if (result == CURLE_BAD_CONTENT_ENCODING && begin()) {
        return {ticket, FetchResult{status, false, std::nullopt, undecodedCoding(handle)}};
    }
    if (m_sinkRefused) {
        return {ticket, FetchFailure{ErrorNumber::Transfer, "the body could not be kept"}};
    }
    if (const auto location = refusedRedirect(handle, result, url)) {
        return {ticket, FetchFailure{ErrorNumber::Transfer, clearTextRedirectText(*location)}};
    }
    std::string reason =
        "curl error " + std::to_string(result) + ": " + curlLibrary().easy_strerror(result);
    const std::string_view detail(m_errorBuffer.data());
    if (!detail.empty()) {
        reason.append(" (").append(detail).append(")");
    }
    if (const auto certificate = certificateReasonOf(handle, result)) {
        reason = certificateFailureText(*certificate, reason);
    }
    if (proxy && (result == CURLE_COULDNT_CONNECT || result == CURLE_COULDNT_RESOLVE_PROXY)) {
        reason = "cannot reach the proxy " + proxy->named() + ": " + reason;
    } else if (result == CURLE_COULDNT_RESOLVE_HOST) {
        const char* url = nullptr;
        curlLibrary().easy_getinfo(handle, CURLINFO_EFFECTIVE_URL, &url);
        reason.append(bases.unresolvedHostNote(url == nullptr ? "" : url));
    }
    const ErrorNumber number = result == CURLE_OPERATION_TIMEDOUT   ? ErrorNumber::TransferTimeout
                               : result == CURLE_TOO_MANY_REDIRECTS ? ErrorNumber::TooManyRedirects
                                                                    : ErrorNumber::Transfer;
    return {ticket, FetchFailure{number, std::move(reason)}};
}

} // namespace kqget

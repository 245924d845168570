#pragma once

#include "update/transfer_port.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace kqget {

struct TransferOptions
{
    std::chrono::milliseconds connectTimeout{60'000};
    // How long a reply may go without a single byte. Not a limit on the whole
    // transfer: a slow but steady body never reaches it.
    std::chrono::milliseconds stallTimeout{60'000};
    long maxRedirects = 10;
    std::size_t bodySizeCap = kBodySizeCapBytes;
    // PEM file of the authorities an https:// server's certificate must chain
    // to; empty means the system's CA store.
    std::string caBundlePath{};
};

// HTTP GET through libcurl. The proxy comes from the environment (http_proxy,
// no_proxy), as libcurl reads it by default. One connection pool serves every
// get() for the object's life, so a run reuses its connections.
class CurlTransfer final : public TransferPort
{
public:
    // onIdle runs about every 50 ms while a transfer waits, so a window can
    // repaint during a slow fetch. It must not call get() again; it may throw
    // (TransferStopped) to abandon the transfer, which leaves this object usable.
    explicit CurlTransfer(TransferOptions options = {}, std::function<void()> onIdle = {});
    ~CurlTransfer() override;
    CurlTransfer(const CurlTransfer&) = delete;
    CurlTransfer& operator=(const CurlTransfer&) = delete;

    FetchResult get(std::string_view url) override;

private:
    struct Session;
    Session& session();

    TransferOptions m_options;
    std::function<void()> m_onIdle;
    std::unique_ptr<Session> m_session;
};

} // namespace kqget

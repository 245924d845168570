#include "platform/win32/winhttp_proxy.h"

#include "platform/win32/unique_handle.h"
#include "platform/win32/wide_text.h"
#include "update/run_error.h"

#include <utility>

namespace kqget {

namespace {

// The texts the proxy settings come back in belong to the caller, who frees
// them with GlobalFree.
using GlobalText = UniqueHandle<wchar_t*, ::GlobalFree>;

std::wstring textOf(const GlobalText& text)
{
    return text ? std::wstring(text.get()) : std::wstring();
}

// A proxy setting with no server in it (left behind by some tool) means none.
bool useProxy(WinHttpProxyPlan& plan, std::wstring proxy, std::wstring bypass)
{
    if (proxy.empty()) {
        return false;
    }
    plan.access = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
    plan.proxy = std::move(proxy);
    plan.bypass = std::move(bypass);
    return true;
}

} // namespace

WinHttpProxyPlan namedProxyPlan(std::string_view proxyUrl)
{
    std::optional<ProxyUrl> proxy = parseProxyUrl(proxyUrl);
    if (!proxy) {
        throw RunError(ErrorNumber::Transfer,
                       "cannot use the proxy '" + shownProxyText(proxyUrl) + "': it names no host");
    }
    if (proxy->scheme != "http") {
        throw RunError(ErrorNumber::Transfer, "cannot use the proxy '" + proxy->shown() +
                                                  "': WinHTTP reaches a proxy over http:// only");
    }
    WinHttpProxyPlan plan;
    useProxy(plan, toWide(proxy->hostPort), {});
    plan.named = std::move(proxy);
    return plan;
}

WinHttpProxyPlan systemProxyPlan()
{
    WinHttpProxyPlan plan;
    // Fails when the user has no settings at all (a service account, say).
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG user{};
    if (::WinHttpGetIEProxyConfigForCurrentUser(&user)) {
        const GlobalText autoConfigUrl(user.lpszAutoConfigUrl);
        const GlobalText proxy(user.lpszProxy);
        const GlobalText bypass(user.lpszProxyBypass);
        plan.autoDetect = user.fAutoDetect != FALSE;
        plan.autoConfigUrl = textOf(autoConfigUrl);
        if (useProxy(plan, textOf(proxy), textOf(bypass))) {
            return plan;
        }
    }
    WINHTTP_PROXY_INFO machine{};
    if (::WinHttpGetDefaultProxyConfiguration(&machine)) {
        const GlobalText proxy(machine.lpszProxy);
        const GlobalText bypass(machine.lpszProxyBypass);
        if (machine.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY) {
            useProxy(plan, textOf(proxy), textOf(bypass));
        }
    }
    return plan;
}

bool WinHttpProxyChoice::applyTo(HINTERNET session, HINTERNET request,
                                 const std::wstring& url) const
{
    if (!m_plan.automatic() || m_automaticFailed.load(std::memory_order_relaxed)) {
        return true;
    }
    WINHTTP_AUTOPROXY_OPTIONS options{};
    if (m_plan.autoDetect) {
        options.dwFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
        options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    }
    if (!m_plan.autoConfigUrl.empty()) {
        options.dwFlags |= WINHTTP_AUTOPROXY_CONFIG_URL;
        options.lpszAutoConfigUrl = m_plan.autoConfigUrl.c_str();
    }
    WINHTTP_PROXY_INFO chosen{};
    BOOL answered = ::WinHttpGetProxyForUrl(session, url.c_str(), &options, &chosen);
    if (!answered && ::GetLastError() == ERROR_WINHTTP_LOGIN_FAILURE) {
        // The user's own logon goes only to a script's server that asks for it.
        options.fAutoLogonIfChallenged = TRUE;
        answered = ::WinHttpGetProxyForUrl(session, url.c_str(), &options, &chosen);
    }
    if (!answered) {
        m_automaticFailed.store(true, std::memory_order_relaxed);
        return true;
    }
    const GlobalText proxy(chosen.lpszProxy);
    const GlobalText bypass(chosen.lpszProxyBypass);
    // A script's "DIRECT" is an answer too: no proxy for this URL.
    WINHTTP_PROXY_INFO option{chosen.dwAccessType, proxy.get(), bypass.get()};
    return ::WinHttpSetOption(request, WINHTTP_OPTION_PROXY, &option, sizeof option) != FALSE;
}

} // namespace kqget

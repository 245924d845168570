#include "platform/win32/windows_error_text.h"

#include "platform/win32/unique_handle.h"
#include "platform/win32/wide_text.h"

#include <string_view>
#include <windows.h>
#include <winhttp.h>

namespace kqget {

namespace {

constexpr unsigned long kFirstWinHttpError = 12000;
constexpr unsigned long kLastWinHttpError = 12999;

struct KnownError
{
    unsigned long code;
    std::string_view text;
};

// What the errors a fetch meets mean, for a system without their texts (Wine
// has none for WinHTTP's and Winsock's): a failure must still say why.
constexpr KnownError kFetchErrors[] = {
    {WSAETIMEDOUT, "the connection timed out"},
    {ERROR_WINHTTP_TIMEOUT, "the operation timed out"},
    {ERROR_WINHTTP_INVALID_URL, "the URL is invalid"},
    {ERROR_WINHTTP_UNRECOGNIZED_SCHEME, "the URL's scheme is not http or https"},
    {ERROR_WINHTTP_NAME_NOT_RESOLVED, "the server name could not be resolved"},
    {ERROR_WINHTTP_OPERATION_CANCELLED, "the operation was cancelled"},
    {ERROR_WINHTTP_CANNOT_CONNECT, "a connection with the server could not be established"},
    {ERROR_WINHTTP_CONNECTION_ERROR, "the connection with the server was ended abnormally"},
    {ERROR_WINHTTP_SECURE_CERT_DATE_INVALID, "the server's certificate is out of its dates"},
    {ERROR_WINHTTP_SECURE_CERT_CN_INVALID, "the server's certificate is for another host"},
    {ERROR_WINHTTP_SECURE_INVALID_CA, "the server's certificate is from an unknown authority"},
    {ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED, "the server asks for a client certificate"},
    {ERROR_WINHTTP_INVALID_SERVER_RESPONSE, "the server's reply is not valid HTTP"},
    {ERROR_WINHTTP_REDIRECT_FAILED, "the redirect failed: too many, or from https to http"},
    {ERROR_WINHTTP_SECURE_CHANNEL_ERROR, "the secure channel failed"},
    {ERROR_WINHTTP_SECURE_FAILURE, "a security check of the connection failed"},
};

std::wstring systemMessage(unsigned long error)
{
    DWORD flags =
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    HMODULE source = nullptr;
    if (error >= kFirstWinHttpError && error <= kLastWinHttpError) {
        source = ::GetModuleHandleW(L"winhttp.dll");
        if (source != nullptr) {
            flags |= FORMAT_MESSAGE_FROM_HMODULE;
        }
    }
    wchar_t* buffer = nullptr;
    const DWORD length =
        ::FormatMessageW(flags, source, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    const UniqueHandle<wchar_t*, ::LocalFree> owned(buffer);
    if (length == 0 || buffer == nullptr) {
        return {};
    }
    std::wstring text(buffer, length);
    // The texts end in a line break, which a one-line message must not carry.
    text.erase(text.find_last_not_of(L"\r\n ") + 1);
    return text;
}

} // namespace

std::string windowsErrorText(unsigned long error)
{
    const std::string code = "(error " + std::to_string(error) + ")";
    const std::wstring message = systemMessage(error);
    if (!message.empty()) {
        return toUtf8(message) + " " + code;
    }
    for (const KnownError& known : kFetchErrors) {
        if (known.code == error) {
            return std::string(known.text) + " " + code;
        }
    }
    return "unknown system error " + code;
}

} // namespace kqget

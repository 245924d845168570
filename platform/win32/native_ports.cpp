#include "platform/native_ports.h"

#include "platform/win32/win32_content_check.h"
#include "platform/win32/winhttp_transfer.h"

namespace kqget {

std::unique_ptr<TransferPort> makeNativeTransfer(TransferOptions options)
{
    return std::make_unique<WinHttpTransfer>(std::move(options));
}

std::unique_ptr<ContentCheckPort> makeNativeContentCheck()
{
    return std::make_unique<Win32ContentCheck>();
}

} // namespace kqget

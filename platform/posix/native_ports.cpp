#include "platform/native_ports.h"

#include "platform/posix/curl_transfer.h"
#include "platform/posix/local_file_system.h"
#include "platform/posix/posix_content_check.h"

namespace kqget {

std::unique_ptr<FileSystemPort> makeNativeFileSystem()
{
    return std::make_unique<LocalFileSystem>();
}

std::unique_ptr<TransferPort> makeNativeTransfer(TransferOptions options)
{
    return std::make_unique<CurlTransfer>(std::move(options));
}

std::unique_ptr<ContentCheckPort> makeNativeContentCheck()
{
    return std::make_unique<PosixContentCheck>();
}

} // namespace kqget

#include "platform/native_ports.h"

#include "platform/posix/curl_transfer.h"
#include "platform/posix/local_file_system.h"

namespace kqget {

std::unique_ptr<FileSystemPort> makeNativeFileSystem()
{
    return std::make_unique<LocalFileSystem>();
}

std::unique_ptr<TransferPort> makeNativeTransfer(TransferOptions options)
{
    return std::make_unique<CurlTransfer>(std::move(options));
}

} // namespace kqget

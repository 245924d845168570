#include "platform/native_ports.h"

#include "platform/posix/curl_transfer.h"
#include "platform/posix/local_file_system.h"
#include "platform/posix/posix_content_check.h"
#include "platform/posix/wine_path_ports.h"

namespace kqget {

namespace {

// The Windows card product's paths, typed as it shows them, are found in the
// Wine prefix it runs in.
std::shared_ptr<const WinePaths> winePaths()
{
    return std::make_shared<const WinePaths>(WinePaths::prefixFromEnvironment());
}

} // namespace

std::unique_ptr<FileSystemPort> makeNativeFileSystem()
{
    return std::make_unique<WinePathFileSystem>(std::make_unique<LocalFileSystem>(), winePaths());
}

std::unique_ptr<TransferPort> makeNativeTransfer(TransferOptions options)
{
    return std::make_unique<CurlTransfer>(std::move(options));
}

std::unique_ptr<ContentCheckPort> makeNativeContentCheck()
{
    return std::make_unique<WinePathContentCheck>(std::make_unique<PosixContentCheck>(),
                                                  winePaths());
}

} // namespace kqget

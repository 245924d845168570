#include "platform/native_ports.h"

#include "platform/posix/curl_transfer.h"
#include "platform/posix/local_file_system.h"
#include "platform/posix/posix_content_check.h"
#include "platform/posix/wine_paths.h"

namespace kqget {

namespace {

// The look into card files, with a path typed as a Windows path found in the
// Wine prefix as the file system finds it.
class NativeContentCheck final : public ContentCheckPort
{
public:
    std::optional<std::string> fileDamage(std::string_view path, CardFileKind kind) const override
    {
        if (!WinePaths::isWindowsPath(path)) {
            return m_inner.fileDamage(path, kind);
        }
        return m_inner.fileDamage(m_wine.toLinux(path), kind);
    }

private:
    PosixContentCheck m_inner;
    const WinePaths m_wine{WinePaths::prefixFromEnvironment()};
};

} // namespace

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
    return std::make_unique<NativeContentCheck>();
}

} // namespace kqget

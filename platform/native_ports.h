#pragma once

#include "platform/transfer_options.h"
#include "update/content_check_port.h"
#include "update/file_system_port.h"
#include "update/transfer_port.h"

#include <memory>

namespace kqget {

// The file system, the HTTP transfer and the look into card files of the
// system the program runs on: POSIX, libcurl, libspng and expat, or Win32,
// WinHTTP, WIC and expat.
std::unique_ptr<FileSystemPort> makeNativeFileSystem();
std::unique_ptr<TransferPort> makeNativeTransfer(TransferOptions options);
std::unique_ptr<ContentCheckPort> makeNativeContentCheck();

} // namespace kqget

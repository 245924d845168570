#pragma once

#include "platform/transfer_options.h"
#include "update/file_system_port.h"
#include "update/transfer_port.h"

#include <memory>

namespace kqget {

// The file system and the HTTP transfer of the system the program runs on:
// POSIX and libcurl, or Win32 and WinHTTP.
std::unique_ptr<FileSystemPort> makeNativeFileSystem();
std::unique_ptr<TransferPort> makeNativeTransfer(TransferOptions options);

} // namespace kqget

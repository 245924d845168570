#pragma once

#include "update/transfer_port.h"

#include <memory>

namespace kqget {

// The window's HTTP transfer. It needs no help to keep the window alive: the
// run waits on it in short slices and lets the window handle its events
// between them.
std::unique_ptr<TransferPort> makeWindowTransfer();

} // namespace kqget

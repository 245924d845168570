#pragma once

#include "update/transfer_port.h"

#include <functional>
#include <memory>

namespace kqget {

// The window's HTTP transfer: it calls `idle` while a fetch waits, so the
// window keeps repainting and taking input through a slow reply.
std::unique_ptr<TransferPort> makeWindowTransfer(std::function<void()> idle);

} // namespace kqget

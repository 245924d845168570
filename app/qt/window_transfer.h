#pragma once

#include "platform/service_settings.h"
#include "update/service_bases.h"
#include "update/transfer_port.h"

#include <memory>

namespace kqget {

// The window's HTTP transfer. It needs no help to keep the window alive: the
// run waits on it in short slices and lets the window handle its events
// between them.
std::unique_ptr<TransferPort> makeWindowTransfer();
// The same, naming `bases` when a host of theirs cannot be found.
std::unique_ptr<TransferPort> makeWindowTransferFor(const ServiceBases& bases);

// The bases the window uses, from the environment and the settings files.
ServiceSettings windowServiceSettings();

} // namespace kqget

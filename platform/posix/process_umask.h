#pragma once

#include <optional>
#include <string_view>

namespace kqget {

// The "Umask:" field of a /proc/<pid>/status text, when present and well formed.
std::optional<unsigned> umaskFromProcStatus(std::string_view status);

// This process's umask, read without changing it: umask(2) can only be read by
// setting it, and in that moment a file another thread creates would get the
// wrong mode. Where /proc cannot tell, 077 is assumed, which errs towards
// files only their owner can read.
unsigned currentUmask();

} // namespace kqget

// Random bytes from the operating system's entropy source (the platform's one part here).
#pragma once

#include <cstdint>

namespace vesk {

// [main thread] 64 random bits from the operating system (getrandom or /dev/urandom on Linux,
// arc4random_buf on macOS). Never call it on the audio thread: the system call may wait. Should
// the system refuse, the bits come from the clocks, the address of a local and a process-wide
// count instead, which still differ between instances and runs.
uint64_t osEntropy64();

} // namespace vesk

// Clocks and sleeping.
//
// TickMs is a monotonic millisecond counter (its zero is arbitrary; only
// differences mean anything). WallClockText gives the wall-clock time in the
// C library's ctime form, line feed included.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

int64_t TickMs();
void SleepMs(int64_t ms);
std::string WallClockText();

}  // namespace platform

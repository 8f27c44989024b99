// Clocks on Linux: CLOCK_MONOTONIC for ticks, nanosleep for sleeping (restarted
// after signals), ctime_r for the wall-clock text.
#include "platform/clock.h"

#include <cerrno>
#include <ctime>

namespace platform {

int64_t TickMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void SleepMs(int64_t ms) {
  if (ms <= 0) return;
  timespec req{static_cast<time_t>(ms / 1000), static_cast<long>((ms % 1000) * 1000000)};
  timespec rem{};
  while (nanosleep(&req, &rem) != 0 && errno == EINTR) req = rem;
}

std::string WallClockText() {
  time_t now = time(nullptr);
  char buf[64];
  if (!ctime_r(&now, buf)) return "(unknown time)\n";
  return buf;
}

}  // namespace platform

// Posts a red fill to the lumenlog window (for the real-window test).
#include "platform/window_channel.h"

int main() {
  platform::WindowRequest r;
  r.number = 1024 + 2;
  r.first = 0x0000ff;
  return platform::WindowPost("lumenlog", r);
}

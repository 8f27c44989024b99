// The size of the screen a window is placed on.
#pragma once

namespace platform {

// The pixel size of the first display's desktop, when a window system is up
// (platform::DisplayAvailable) and answers; false otherwise, leaving the
// outputs as they were.
bool DisplayScreenSize(int* width, int* height);

}  // namespace platform

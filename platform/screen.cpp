// The desktop size through SDL's video subsystem, started for the question
// only (the map window starts it again when it is made).
#include "platform/screen.h"

#include <SDL.h>

#include "platform/map_window.h"

namespace platform {

bool DisplayScreenSize(int* width, int* height) {
  if (!DisplayAvailable()) return false;
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return false;
  SDL_DisplayMode mode{};
  const bool ok = SDL_GetNumVideoDisplays() > 0 && SDL_GetDesktopDisplayMode(0, &mode) == 0 && mode.w > 0 &&
                  mode.h > 0;
  SDL_QuitSubSystem(SDL_INIT_VIDEO);
  if (!ok) return false;
  *width = mode.w;
  *height = mode.h;
  return true;
}

}  // namespace platform

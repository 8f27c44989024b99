// The map window on SDL2.
//
// SDL's video subsystem is started only when a window is wanted and a display
// is there; the picture goes through one streaming texture in
// SDL_PIXELFORMAT_ARGB8888 (the same words as Cairo's ARGB32), remade when
// the picture's size changes. Events are translated one by one: mouse
// buttons pressed and released with their click count, motion with the left button's state, text
// input and Escape as characters, size changes of the window and dropped
// files.
#include "platform/map_window.h"

#include <SDL.h>

#include <cstdlib>
#include <cstring>

namespace platform {

struct MapWindow {
  SDL_Window* window = nullptr;
  SDL_Renderer* renderer = nullptr;
  SDL_Texture* texture = nullptr;
  int texture_w = 0, texture_h = 0;
  SDL_Cursor* cursors[5] = {};
};

bool DisplayAvailable() {
  const char* driver = getenv("SDL_VIDEODRIVER");
  if (driver && (strcmp(driver, "dummy") == 0 || strcmp(driver, "offscreen") == 0)) return false;
  const char* x = getenv("DISPLAY");
  const char* wl = getenv("WAYLAND_DISPLAY");
  return (x && *x) || (wl && *wl);
}

MapWindow* OpenMapWindow(int left, int top, int width, int height, bool on_screen) {
  auto* w = new MapWindow();
  if (!on_screen || !DisplayAvailable()) return w;
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return w;
  w->window = SDL_CreateWindow("Ombrel Map", left, top, width > 0 ? width : 640, height > 0 ? height : 480,
                               SDL_WINDOW_RESIZABLE | SDL_WINDOW_SHOWN);
  if (!w->window) {
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return w;
  }
  w->renderer = SDL_CreateRenderer(w->window, -1, SDL_RENDERER_SOFTWARE);
  if (!w->renderer) w->renderer = SDL_CreateRenderer(w->window, -1, 0);
  const SDL_SystemCursor shapes[5] = {SDL_SYSTEM_CURSOR_ARROW, SDL_SYSTEM_CURSOR_WAIT,
                                      SDL_SYSTEM_CURSOR_CROSSHAIR, SDL_SYSTEM_CURSOR_SIZEWE,
                                      SDL_SYSTEM_CURSOR_SIZENS};
  for (int i = 0; i < 5; ++i) w->cursors[i] = SDL_CreateSystemCursor(shapes[i]);
  SDL_EventState(SDL_DROPFILE, SDL_ENABLE);
  SDL_StartTextInput();
  return w;
}

void CloseMapWindow(MapWindow* w) {
  if (!w) return;
  for (SDL_Cursor* c : w->cursors)
    if (c) SDL_FreeCursor(c);
  if (w->texture) SDL_DestroyTexture(w->texture);
  if (w->renderer) SDL_DestroyRenderer(w->renderer);
  if (w->window) {
    SDL_DestroyWindow(w->window);
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
  }
  delete w;
}

bool MapWindowOnScreen(const MapWindow* w) { return w && w->window; }

void PresentMapWindow(MapWindow* w, const uint32_t* pixels, int width, int height, int stride) {
  if (!MapWindowOnScreen(w) || !w->renderer || width <= 0 || height <= 0) return;
  if (!w->texture || w->texture_w != width || w->texture_h != height) {
    if (w->texture) SDL_DestroyTexture(w->texture);
    w->texture = SDL_CreateTexture(w->renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING, width, height);
    w->texture_w = width;
    w->texture_h = height;
    if (!w->texture) return;
  }
  SDL_UpdateTexture(w->texture, nullptr, pixels, stride);
  SDL_RenderClear(w->renderer);
  SDL_Rect dst{0, 0, width, height};
  SDL_RenderCopy(w->renderer, w->texture, nullptr, &dst);
  SDL_RenderPresent(w->renderer);
}

bool PollMapWindow(MapWindow* w, MapEvent* e) {
  if (!MapWindowOnScreen(w)) return false;
  SDL_Event ev;
  while (SDL_PollEvent(&ev)) {
    *e = MapEvent();
    switch (ev.type) {
      case SDL_MOUSEMOTION:
        e->kind = kMapEventMotion;
        e->x = ev.motion.x;
        e->y = ev.motion.y;
        e->left_down = (ev.motion.state & SDL_BUTTON_LMASK) != 0;
        return true;
      case SDL_MOUSEBUTTONDOWN:
        e->kind = kMapEventButton;
        e->x = ev.button.x;
        e->y = ev.button.y;
        e->button = ev.button.button == SDL_BUTTON_LEFT ? 1 : ev.button.button == SDL_BUTTON_MIDDLE ? 2 : 3;
        e->clicks = ev.button.clicks;
        return true;
      case SDL_MOUSEBUTTONUP:
        e->kind = kMapEventRelease;
        e->x = ev.button.x;
        e->y = ev.button.y;
        e->button = ev.button.button == SDL_BUTTON_LEFT ? 1 : ev.button.button == SDL_BUTTON_MIDDLE ? 2 : 3;
        e->clicks = ev.button.clicks;
        return true;
      case SDL_TEXTINPUT:
        e->kind = kMapEventKey;
        e->key = (unsigned char)ev.text.text[0];
        return true;
      case SDL_KEYDOWN:
        // Keys that give no text input arrive as their control characters.
        if (ev.key.keysym.sym == SDLK_ESCAPE || ev.key.keysym.sym == SDLK_RETURN ||
            ev.key.keysym.sym == SDLK_KP_ENTER || ev.key.keysym.sym == SDLK_TAB ||
            ev.key.keysym.sym == SDLK_BACKSPACE) {
          e->kind = kMapEventKey;
          e->key = ev.key.keysym.sym == SDLK_ESCAPE      ? 27
                   : ev.key.keysym.sym == SDLK_TAB       ? 9
                   : ev.key.keysym.sym == SDLK_BACKSPACE ? 8
                                                         : 13;
          return true;
        }
        break;
      case SDL_WINDOWEVENT:
        if (ev.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) {
          e->kind = kMapEventResize;
          e->width = ev.window.data1;
          e->height = ev.window.data2;
          return true;
        }
        if (ev.window.event == SDL_WINDOWEVENT_CLOSE) {
          e->kind = kMapEventClose;
          return true;
        }
        if (ev.window.event == SDL_WINDOWEVENT_MINIMIZED || ev.window.event == SDL_WINDOWEVENT_HIDDEN) {
          // Only while it lasts: a window restored since (by RaiseMapWindow,
          // say) leaves its old minimise event behind.
          const Uint32 flags = SDL_GetWindowFlags(w->window);
          if (!(flags & (SDL_WINDOW_MINIMIZED | SDL_WINDOW_HIDDEN))) break;
          e->kind = kMapEventMinimize;
          return true;
        }
        if (ev.window.event == SDL_WINDOWEVENT_EXPOSED) {
          e->kind = kMapEventResize;
          SDL_GetWindowSize(w->window, &e->width, &e->height);
          return true;
        }
        break;
      case SDL_DROPFILE:
        e->kind = kMapEventDrop;
        if (ev.drop.file) {
          e->file = ev.drop.file;
          SDL_free(ev.drop.file);
        }
        return true;
      default:
        break;
    }
  }
  return false;
}

void SetMapPointer(MapWindow* w, MapPointer shape) {
  if (!MapWindowOnScreen(w) || shape < 0 || shape > 4 || !w->cursors[shape]) return;
  SDL_SetCursor(w->cursors[shape]);
}

void RaiseMapWindow(MapWindow* w) {
  if (!MapWindowOnScreen(w)) return;
  if (SDL_GetWindowFlags(w->window) & SDL_WINDOW_MINIMIZED) SDL_RestoreWindow(w->window);
  SDL_RaiseWindow(w->window);
}

}  // namespace platform

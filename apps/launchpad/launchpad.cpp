// launchpad [--events FILE] [--screenshot FILE.png]: the atlas starter.
//
// With a display it shows its window until a choice is made or Escape is
// pressed. Without one (or with --events) it runs the same rules on an
// off-screen picture: the events file is fed to them line by line and its end
// counts as Escape. --screenshot saves the picture as PNG once it has been
// painted and the events have been taken.
#include "apps/launchpad/launcher.h"

#include "lib/display/bitmap.h"
#include "platform/files.h"
#include "platform/window_channel.h"

#include <SDL.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

namespace {

// The user message that asks a running atlas program to come to the front.
constexpr uint32_t kUserMessage = 0x0400;

bool g_have_window_system = false;

void Box(const std::string& text) {
  fprintf(stderr, "%s\n", text.c_str());
  if (g_have_window_system)
    SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_WARNING, "Veltrum Starter...", text.c_str(), nullptr);
  fputc('\a', stderr);
}

int Usage() {
  fputs("usage: launchpad [--events FILE] [--screenshot FILE.png]\n", stderr);
  return 2;
}

bool SaveScreenshot(cairo_surface_t* picture, const std::string& path) {
  int detail = 0;
  return display::SaveImageFile(picture, path, display::ImageKind::kPng, 0, 0, &detail) == display::SaveResult::kOk;
}

launchpad::Key SdlKey(SDL_Keycode k) {
  switch (k) {
    case SDLK_UP: return launchpad::Key::kUp;
    case SDLK_DOWN: return launchpad::Key::kDown;
    case SDLK_RETURN:
    case SDLK_KP_ENTER: return launchpad::Key::kEnter;
    case SDLK_ESCAPE: return launchpad::Key::kEscape;
    default: return launchpad::Key::kOther;
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string events, screenshot;
  for (int i = 1; i < argc; ++i) {
    if (!strcmp(argv[i], "--events") && i + 1 < argc) events = argv[++i];
    else if (!strcmp(argv[i], "--screenshot") && i + 1 < argc) screenshot = argv[++i];
    else return Usage();
  }
  std::string program = platform::ProgramPath();
  // The launcher's own folder (never OMBREL_HOME: the atlas lies beside this file).
  size_t slash = program.rfind('/');
  std::string dir = slash == std::string::npos || slash == 0 ? std::string("/") : program.substr(0, slash);

  // A running atlas program is only brought to the front.
  if (platform::WindowFind("Veltrum") == 0) {
    platform::WindowRequest r;
    r.number = kUserMessage + 3;
    r.first = 0;
    r.second = static_cast<unsigned char>(dir.empty() ? 0 : dir[0]);
    platform::WindowPost("Veltrum", r);
    return 0;
  }

  const char* display_env = getenv("DISPLAY");
  const char* wayland = getenv("WAYLAND_DISPLAY");
  bool headless = !events.empty() || ((!display_env || !*display_env) && (!wayland || !*wayland));
  if (!headless && SDL_Init(SDL_INIT_VIDEO) == 0) g_have_window_system = true;
  else headless = true;

  launchpad::State state;
  state.plan = launchpad::MakePlan(dir);
  if (!state.plan.missing.empty()) {
    Box("Missing " + state.plan.missing);
    if (g_have_window_system) SDL_Quit();
    return 1;
  }
  std::string splash_path = program + ".bmp";
  if (!platform::FileExists(splash_path.c_str())) {
    Box("Missing " + splash_path);
    if (g_have_window_system) SDL_Quit();
    return 1;
  }
  state.splash = launchpad::LoadSplash(splash_path);

  cairo_surface_t* picture = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, launchpad::kWidth, launchpad::kHeight);
  auto repaint = [&] {
    cairo_t* cr = cairo_create(picture);
    launchpad::Paint(state, cr);
    cairo_destroy(cr);
    cairo_surface_flush(picture);
  };
  repaint();

  bool chose = false;
  int status = 0;
  auto act = [&](launchpad::Action a) {
    if (a == launchpad::Action::kRedraw) repaint();
    if (a == launchpad::Action::kChoose) chose = true;
    return a == launchpad::Action::kChoose || a == launchpad::Action::kEnd;
  };

  if (headless) {
    bool done = false;
    if (!events.empty()) {
      std::ifstream in(events);
      if (!in) {
        fprintf(stderr, "launchpad: cannot read events file %s\n", events.c_str());
        status = 1;
        done = true;
      }
      std::string line;
      for (int number = 1; !done && std::getline(in, line); ++number) {
        launchpad::Event e;
        if (!launchpad::ParseEvent(line, &e)) {
          fprintf(stderr, "Events file %s line %d: %s\n", events.c_str(), number, line.c_str());
          continue;
        }
        if (e.kind == launchpad::Event::kKey) done = act(launchpad::OnKey(state, e.key));
        else if (e.kind == launchpad::Event::kPress && e.button == 1)
          for (int c = 0; c < e.count && !done; ++c) done = act(launchpad::OnClick(state, e.x, e.y));
      }
    }
    if (!screenshot.empty() && !SaveScreenshot(picture, screenshot)) {
      fprintf(stderr, "launchpad: cannot write %s\n", screenshot.c_str());
      status = 1;
    }
  } else {
    SDL_Window* window = SDL_CreateWindow("Veltrum Starter...", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                                          launchpad::kWidth, launchpad::kHeight, 0);
    SDL_Renderer* renderer = window ? SDL_CreateRenderer(window, -1, SDL_RENDERER_SOFTWARE) : nullptr;
    SDL_Texture* texture = renderer ? SDL_CreateTexture(renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING,
                                                        launchpad::kWidth, launchpad::kHeight)
                                    : nullptr;
    if (!texture) {
      fprintf(stderr, "launchpad: cannot open a window: %s\n", SDL_GetError());
      status = 1;
    }
    auto present = [&] {
      SDL_UpdateTexture(texture, nullptr, cairo_image_surface_get_data(picture), cairo_image_surface_get_stride(picture));
      SDL_RenderClear(renderer);
      SDL_RenderCopy(renderer, texture, nullptr, nullptr);
      SDL_RenderPresent(renderer);
    };
    bool saved = screenshot.empty();
    for (bool done = !texture; !done;) {
      present();
      if (!saved) {
        saved = true;
        if (!SaveScreenshot(picture, screenshot)) fprintf(stderr, "launchpad: cannot write %s\n", screenshot.c_str());
      }
      SDL_Event ev;
      if (!SDL_WaitEventTimeout(&ev, 250)) continue;
      switch (ev.type) {
        case SDL_QUIT: done = true; break;
        case SDL_KEYDOWN: done = act(launchpad::OnKey(state, SdlKey(ev.key.keysym.sym))); break;
        case SDL_MOUSEBUTTONDOWN:
          if (ev.button.button == SDL_BUTTON_LEFT) done = act(launchpad::OnClick(state, ev.button.x, ev.button.y));
          break;
        default: break;
      }
    }
    if (texture) SDL_DestroyTexture(texture);
    if (renderer) SDL_DestroyRenderer(renderer);
    if (window) SDL_DestroyWindow(window);
  }
  if (chose) launchpad::StartChosen(state);  // a command that cannot start just ends the launcher
  cairo_surface_destroy(picture);
  if (state.splash) cairo_surface_destroy(state.splash);
  if (g_have_window_system) SDL_Quit();
  return status;
}

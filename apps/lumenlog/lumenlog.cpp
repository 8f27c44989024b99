// lumenlog [--headless] [--snapshot FILE.png] [--log FILE]: a scratch drawing
// window that other programs find by its name and post drawing requests to
// (see lumen.h). One runs at a time: a second start asks the first to come
// to the front and ends. Without a display (or with --headless) the same
// drawing goes into an off-screen picture. --snapshot writes the picture
// when the program ends (the window closed, SIGTERM, SIGINT); --log writes a
// line per request: its number and both parameters in decimal, then for a
// text request the text. Both files are put in place whole when the program
// ends; an old file of either name stays as it was until then, and after a
// failure. The two must be different files, and neither the window's socket.
#include "apps/lumenlog/lumen.h"

#include "lib/display/bitmap.h"
#include "platform/safe_output.h"
#include "platform/window_channel.h"

#include <SDL.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <string>
#include <vector>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

volatile sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

// The refusal of an output, or empty: a directory or anything else that is
// not a file, or the same file as the other output or the window's socket
// (by name or by device and inode).
std::string OutputRefusal(const std::string& path, const std::string& other, const char* other_option) {
  const std::string socket = platform::WindowSocketPath("lumenlog");
  if (path == socket || platform::SameFile(path.c_str(), socket.c_str()))
    return "cannot write " + path + ": it is the window's socket";
  if (!other.empty() && (path == other || platform::SameFile(path.c_str(), other.c_str())))
    return std::string("--log and ") + other_option + " name the same file (" + path + ")";
  const int status = platform::SafeCheckTarget(path.c_str(), {});
  if (status != platform::kSafeOk) return "cannot write " + path + ": " + platform::SafeStatusText(status);
  return "";
}

int Usage() {
  fputs("usage: lumenlog [--headless] [--snapshot FILE.png] [--log FILE]\n", stderr);
  return 2;
}

struct Window {
  SDL_Window* window = nullptr;
  SDL_Renderer* renderer = nullptr;
  SDL_Texture* texture = nullptr;
  int tw = 0, th = 0;
};

void Present(Window& w, lumenlog::Canvas& c) {
  if (!w.window) return;
  if (!w.texture || w.tw != c.width || w.th != c.height) {
    if (w.texture) SDL_DestroyTexture(w.texture);
    w.texture = SDL_CreateTexture(w.renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING, c.width, c.height);
    w.tw = c.width;
    w.th = c.height;
  }
  cairo_surface_flush(c.picture);
  SDL_UpdateTexture(w.texture, nullptr, cairo_image_surface_get_data(c.picture), cairo_image_surface_get_stride(c.picture));
  SDL_RenderClear(w.renderer);
  SDL_RenderCopy(w.renderer, w.texture, nullptr, nullptr);
  SDL_RenderPresent(w.renderer);
}

}  // namespace

int main(int argc, char** argv) {
  bool headless = false;
  std::string snapshot, log_path;
  for (int i = 1; i < argc; ++i) {
    if (!strcmp(argv[i], "--headless")) headless = true;
    else if (!strcmp(argv[i], "--snapshot") && i + 1 < argc) snapshot = argv[++i];
    else if (!strcmp(argv[i], "--log") && i + 1 < argc) log_path = argv[++i];
    else return Usage();
  }
  // Bad outputs are refused before anything else is done.
  std::string refusal = log_path.empty() ? "" : OutputRefusal(log_path, snapshot, "--snapshot");
  if (refusal.empty() && !snapshot.empty()) refusal = OutputRefusal(snapshot, "", "");
  if (!refusal.empty()) {
    fprintf(stderr, "lumenlog: %s\n", refusal.c_str());
    return 1;
  }
  // A live window of that name: it comes to the front, this start ends.
  if (platform::WindowFind("lumenlog") == 0) {
    platform::WindowRequest r;
    r.number = lumenlog::kUser + 0;
    platform::WindowPost("lumenlog", r);
    return 0;
  }
  const int fd = platform::WindowListen("lumenlog");  // a stale socket is replaced
  if (fd < 0) {
    fprintf(stderr, "lumenlog: cannot open the window's socket %s\n", platform::WindowSocketPath("lumenlog").c_str());
    return 1;
  }
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);

  FILE* log = nullptr;
  platform::SafeOutput log_out;
  if (!log_path.empty()) {
    const int opened = platform::SafeOpen(log_out, log_path.c_str());
    if (opened != platform::kSafeOk || !(log = platform::SafeStream(log_out))) {
      fprintf(stderr, "lumenlog: cannot write %s: %s\n", log_path.c_str(),
              platform::SafeStatusText(opened != platform::kSafeOk ? opened : platform::kSafeCannotCreate));
      platform::WindowClose("lumenlog", fd);
      return 1;
    }
  }
  lumenlog::Canvas canvas;
  if (!lumenlog::CanvasCreate(canvas, 320, 240)) {
    platform::WindowClose("lumenlog", fd);
    return 1;
  }
  const char* display = getenv("DISPLAY");
  const char* wayland = getenv("WAYLAND_DISPLAY");
  if ((!display || !*display) && (!wayland || !*wayland)) headless = true;
  Window w;
  if (!headless && SDL_Init(SDL_INIT_VIDEO) == 0) {
    w.window = SDL_CreateWindow("lumenlog", 160, 120, canvas.width, canvas.height, SDL_WINDOW_SHOWN);
    if (w.window) w.renderer = SDL_CreateRenderer(w.window, -1, SDL_RENDERER_SOFTWARE);
    if (w.renderer) SDL_SetCursor(SDL_CreateSystemCursor(SDL_SYSTEM_CURSOR_ARROW));
  }
  bool dirty = true;
  static unsigned char buf[65536];
  std::vector<lumenlog::RequestView> requests;
  while (!g_stop) {
    if (w.window) {
      SDL_Event ev;
      while (SDL_PollEvent(&ev)) {
        if (ev.type == SDL_QUIT || (ev.type == SDL_WINDOWEVENT && ev.window.event == SDL_WINDOWEVENT_CLOSE)) g_stop = 1;
        if (ev.type == SDL_WINDOWEVENT && ev.window.event == SDL_WINDOWEVENT_EXPOSED) dirty = true;
      }
      if (dirty) {
        Present(w, canvas);
        dirty = false;
      }
    }
    struct pollfd p {fd, POLLIN, 0};
    if (poll(&p, 1, w.window ? 15 : 100) <= 0) continue;
    // The requests waiting are taken before the picture is shown again (a
    // window shows it at least every 20 000 requests).
    int applied = 0;
    for (int taken = 0; taken < 4096 && (!w.window || applied < 20000); ++taken) {
      sockaddr_un from{};
      socklen_t from_length = sizeof from;
      // MSG_TRUNC: the datagram's whole length, so that one too long for the
      // buffer is ignored rather than drawn in part.
      const ssize_t n =
          recvfrom(fd, buf, sizeof buf, MSG_DONTWAIT | MSG_TRUNC, reinterpret_cast<sockaddr*>(&from), &from_length);
      if (n < 0) break;
      if (static_cast<size_t>(n) > sizeof buf) continue;  // oversize: ignored
      if (!lumenlog::SplitRequestViews(buf, static_cast<size_t>(n), &requests)) continue;  // malformed: ignored
      for (const lumenlog::RequestView& r : requests) {
        if (r.number == 0) {
          platform::WindowAnswerClient(fd, &from, from_length, canvas.width, canvas.height);
          continue;
        }
        const lumenlog::Effect e = lumenlog::Apply(canvas, r);
        if (e == lumenlog::Effect::kIgnored) continue;
        ++applied;
        if (log) {
          fprintf(log, "%u %lld %lld", r.number, static_cast<long long>(r.first), static_cast<long long>(r.second));
          if (r.number == lumenlog::kUser + 12) fprintf(log, " %.*s", static_cast<int>(r.text.size()), r.text.data());
          fputc('\n', log);
        }
        if (e == lumenlog::Effect::kResized) {
          fputc('\a', stderr);
          if (w.window) SDL_SetWindowSize(w.window, canvas.width, canvas.height);
        }
        if (e == lumenlog::Effect::kRaise && w.window) SDL_RaiseWindow(w.window);
        dirty = true;
      }
    }
    if (applied) cairo_surface_mark_dirty(canvas.picture);  // drawn beside Cairo
    if (log) fflush(log);
  }
  int status = 0;
  if (!snapshot.empty()) {
    int detail = 0;
    const display::SaveResult saved =
        display::SaveImageFile(canvas.picture, snapshot, display::ImageKind::kPng, 0, 0, &detail);
    if (saved != display::SaveResult::kOk) {
      // An output error carries the errno of the failure (a full disk, ...).
      fprintf(stderr, "lumenlog: cannot write %s%s%s\n", snapshot.c_str(),
              saved == display::SaveResult::kOutputError && detail ? ": " : "",
              saved == display::SaveResult::kOutputError && detail ? strerror(detail) : "");
      status = 1;
    }
  }
  if (log) {
    const int committed = platform::SafeCommit(log_out);
    if (committed != platform::kSafeOk) {
      fprintf(stderr, "lumenlog: cannot write %s: %s\n", log_path.c_str(), platform::SafeStatusText(committed));
      status = 1;
    }
  }
  platform::WindowClose("lumenlog", fd);
  lumenlog::CanvasDestroy(canvas);
  if (w.texture) SDL_DestroyTexture(w.texture);
  if (w.renderer) SDL_DestroyRenderer(w.renderer);
  if (w.window) {
    SDL_DestroyWindow(w.window);
    SDL_Quit();
  }
  return status;
}

#include "apps/launchpad/launcher.h"

#include "lib/display/bitmap.h"

#include <cstdio>
#include <cctype>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

extern char** environ;

namespace launchpad {
namespace {

const char* const kProgram = "veltrum";
const char* const kDataFile = "veltrum.dtp";

bool IsFile(const std::string& p) {
  struct stat st;
  return stat(p.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

// Mount points in /proc/mounts escape blanks and a few other bytes as \ooo.
std::string Unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && isdigit(s[i + 1]) &&
        isdigit(s[i + 2]) && isdigit(s[i + 3])) {
      out.push_back(static_cast<char>((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0')));
      i += 3;
    } else {
      out.push_back(s[i]);
    }
  }
  return out;
}

std::vector<std::string> MountPoints(const std::string& table) {
  std::vector<std::string> points;
  std::ifstream in(table);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string device, point;
    if (words >> device >> point) points.push_back(Unescape(point));
  }
  return points;
}

bool Under(const std::string& path, const std::string& point) {
  if (point == "/") return true;
  return path.compare(0, point.size(), point) == 0 && (path.size() == point.size() || path[point.size()] == '/');
}

std::string Join(const std::string& a, const std::string& b) {
  if (a.empty() || a.back() == '/') return a + b;
  return a + "/" + b;
}

// Weights 600 and 900 both come out as DejaVu Sans Bold, the heaviest face
// the fonts have.
void SetFont(cairo_t* cr, double pixel_height) {
  cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
  // The height is the font's cell (ascent and descent), as the fonts are asked
  // for by cell height.
  cairo_set_font_size(cr, 100);
  cairo_font_extents_t fe;
  cairo_font_extents(cr, &fe);
  cairo_set_font_size(cr, fe.height > 0 ? 100 * pixel_height / fe.height : pixel_height);
}

const double kBackground[3] = {255 / 255.0, 222 / 255.0, 187 / 255.0};

// Text centred on (cx, cy) with a one-pixel halo in the background colour.
void HaloText(cairo_t* cr, const std::string& text, double cx, double cy, const int rgb[3]) {
  cairo_text_extents_t te;
  cairo_text_extents(cr, text.c_str(), &te);
  cairo_font_extents_t fe;
  cairo_font_extents(cr, &fe);
  double x = cx - (te.x_advance / 2);
  double y = cy + (fe.ascent - fe.descent) / 2;
  cairo_set_source_rgb(cr, kBackground[0], kBackground[1], kBackground[2]);
  for (int dy = -1; dy <= 1; ++dy)
    for (int dx = -1; dx <= 1; ++dx) {
      if (!dx && !dy) continue;
      cairo_move_to(cr, x + dx, y + dy);
      cairo_show_text(cr, text.c_str());
    }
  cairo_set_source_rgb(cr, rgb[0] / 255.0, rgb[1] / 255.0, rgb[2] / 255.0);
  cairo_move_to(cr, x, y);
  cairo_show_text(cr, text.c_str());
}

const int kHighlight[3] = {102, 0, 102};
const int kPlain[3] = {183, 91, 0};
const int kTitle[3] = {111, 55, 0};

}  // namespace

bool InstalledCopy(const std::string& dir) {
  std::string data = Join(dir, kDataFile);
  if (access(data.c_str(), R_OK | W_OK) == 0) return true;
  int fd = open(data.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (fd < 0) return false;
  close(fd);
  return true;
}

Plan MakePlan(const std::string& dir, const std::string& mounts) {
  Plan plan;
  std::string beside = Join(dir, kProgram);
  if (!IsFile(beside)) {
    plan.missing = beside;
    return plan;
  }
  std::string hard, cd;
  if (InstalledCopy(dir)) {
    hard = beside;
  } else {
    cd = beside;
    // An installed copy on another file system: <mount>/veltrum/runw32/veltrum,
    // with a writable veltrum.dtp in the launcher's folder on that file system.
    char real[4096];
    std::string d = realpath(dir.c_str(), real) ? std::string(real) : dir;
    std::vector<std::string> points = MountPoints(mounts);
    std::string own;
    for (const auto& p : points)
      if (Under(d, p) && p.size() >= own.size()) own = p;
    std::string relative = own == "/" ? d : d.substr(own.size());
    struct stat own_st{};
    bool have_own = stat(own.c_str(), &own_st) == 0;
    for (const auto& p : points) {
      if (p == own) continue;
      struct stat st;
      if (stat(p.c_str(), &st) != 0) continue;
      if (have_own && st.st_dev == own_st.st_dev) continue;  // the launcher's own, mounted twice
      std::string program = Join(Join(Join(p, kProgram), "runw32"), kProgram);
      if (!IsFile(program)) continue;
      std::string data_dir = p == "/" ? relative : p + relative;
      if (!InstalledCopy(data_dir)) continue;
      hard = program;
      break;
    }
  }
  if (!hard.empty()) plan.choices.push_back({"Run from Hard Drive", hard});
  if (!cd.empty()) plan.choices.push_back({"Run from CD-ROM", cd});
  plan.choices.push_back({"Quit", ""});
  return plan;
}

cairo_surface_t* LoadSplash(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // BITMAPFILEHEADER (14 bytes) then BITMAPINFOHEADER: planes at 26, bits at 28.
  if (bytes.size() < 30 || bytes[0] != 'B' || bytes[1] != 'M') return nullptr;
  auto u16 = [&](size_t at) { return static_cast<unsigned>(static_cast<unsigned char>(bytes[at]) |
                                                          (static_cast<unsigned char>(bytes[at + 1]) << 8)); };
  if (u16(26) != 1 || u16(28) != 1) return nullptr;
  cairo_surface_t* s = nullptr;
  if (display::DecodeImage(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), display::ImageKind::kBmp,
                           &s) != display::DecodeResult::kOk) {
    if (s) cairo_surface_destroy(s);
    return nullptr;
  }
  return s;
}

Rect ChoiceRect(const State& s, int i) {
  int n = static_cast<int>(s.plan.choices.size());
  int top = n >= 3 ? 140 : 180;
  return Rect{64, top + 80 * i, kWidth - 128, 40};
}

void Paint(const State& s, cairo_t* cr) {
  cairo_save(cr);
  cairo_set_source_rgb(cr, kBackground[0], kBackground[1], kBackground[2]);
  cairo_paint(cr);
  if (s.splash) {
    // Tiles from the centre tile outwards, ring after ring, until a ring
    // lies wholly outside the window.
    int cx = (kWidth - kTileWidth) / 2, cy = (kHeight - kTileHeight) / 2;
    auto tile = [&](int i, int j) {
      int x = cx + i * kTileWidth, y = cy + j * kTileHeight;
      if (x >= kWidth || y >= kHeight || x + kTileWidth <= 0 || y + kTileHeight <= 0) return false;
      cairo_save(cr);
      cairo_rectangle(cr, x, y, kTileWidth, kTileHeight);
      cairo_clip(cr);
      cairo_set_source_surface(cr, s.splash, x, y);
      cairo_paint(cr);
      cairo_restore(cr);
      return true;
    };
    tile(0, 0);
    for (int ring = 1;; ++ring) {
      bool any = false;
      for (int i = -ring; i <= ring; ++i) any |= tile(i, -ring);          // top, left to right
      for (int j = -ring + 1; j <= ring; ++j) any |= tile(ring, j);       // right, downwards
      for (int i = ring - 1; i >= -ring; --i) any |= tile(i, ring);       // bottom, right to left
      for (int j = ring - 1; j > -ring; --j) any |= tile(-ring, j);       // left, upwards
      if (!any) break;
    }
  }
  SetFont(cr, 48);
  HaloText(cr, "Veltrum", kWidth / 2.0, 70, kTitle);
  SetFont(cr, 31);
  for (size_t i = 0; i < s.plan.choices.size(); ++i) {
    Rect r = ChoiceRect(s, static_cast<int>(i));
    HaloText(cr, s.plan.choices[i].label, r.x + r.w / 2.0, r.y + r.h / 2.0,
             static_cast<int>(i) == s.highlighted ? kHighlight : kPlain);
  }
  SetFont(cr, 15);
  HaloText(cr, "Veltrum atlas starter - Ombrel desktop utilities", kWidth / 2.0, 370, kTitle);
  cairo_restore(cr);
}

Action OnKey(State& s, Key key) {
  int n = static_cast<int>(s.plan.choices.size());
  switch (key) {
    case Key::kUp:
      if (n == 0) return Action::kNone;
      s.highlighted = (s.highlighted + n - 1) % n;
      return Action::kRedraw;
    case Key::kDown:
      if (n == 0) return Action::kNone;
      s.highlighted = (s.highlighted + 1) % n;
      return Action::kRedraw;
    case Key::kEnter:
      return Action::kChoose;
    case Key::kEscape:
      return Action::kEnd;
    default:
      return Action::kNone;
  }
}

Action OnClick(State& s, int x, int y) {
  for (int i = 0; i < static_cast<int>(s.plan.choices.size()); ++i) {
    Rect r = ChoiceRect(s, i);
    if (x < r.x || x >= r.x + r.w || y < r.y || y >= r.y + r.h) continue;
    if (i == s.highlighted) return Action::kChoose;
    s.highlighted = i;
    return Action::kRedraw;
  }
  return Action::kNone;
}

bool StartChosen(const State& s) {
  if (s.highlighted < 0 || s.highlighted >= static_cast<int>(s.plan.choices.size())) return false;
  const std::string& command = s.plan.choices[s.highlighted].command;
  if (command.empty()) return false;
  char* argv[] = {const_cast<char*>(command.c_str()), nullptr};
  pid_t pid;
  return posix_spawn(&pid, command.c_str(), nullptr, nullptr, argv, environ) == 0;
}

bool ParseEvent(const std::string& line, Event* e) {
  *e = Event{};
  std::istringstream in(line);
  std::string word;
  if (!(in >> word) || word[0] == '#') return true;  // nothing to do
  if (word == "key") {
    std::string k;
    if (!(in >> k)) return false;
    e->kind = Event::kKey;
    if (k == "UP") e->key = Key::kUp;
    else if (k == "DOWN") e->key = Key::kDown;
    else if (k == "ENTER") e->key = Key::kEnter;
    else if (k == "ESC") e->key = Key::kEscape;
    else if (k.size() == 1 || k == "TAB" || k == "SPACE" || k == "BACKSPACE") e->key = Key::kOther;
    else return false;
    return true;
  }
  if (word == "click" || word == "press" || word == "dblclick" || word == "release" || word == "move") {
    if (!(in >> e->x >> e->y)) return false;
    int b;
    if (in >> b) {
      if (b < 1 || b > 3) return false;
      e->button = b;
    }
    if (word == "release" || word == "move") return true;
    e->kind = Event::kPress;
    e->count = word == "dblclick" ? 2 : 1;
    return true;
  }
  if (word == "resize" || word == "drop") return true;  // the launcher's window keeps its size
  return false;
}

}  // namespace launchpad

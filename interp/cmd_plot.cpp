// Plot commands: PlotStart, PlotEnd, PlotFrame, PlotString, PlotInclude, and
// the plot as the drawing target.
//
// The plot file is written through a SafeOutput: the bytes go to a temporary
// file beside the target, which replaces the target only when PlotEnd has
// written everything; a refused or failed plot leaves any old file as it was.
#include "interp/cmd_plot.h"

#include <spawn.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "interp/cmd_draw.h"
#include "interp/cmd_map.h"
#include "interp/handlers.h"
#include "interp/keyed_store.h"
#include "interp/messages.h"
#include "interp/words.h"
#include "lib/display/draw_objects.h"
#include "lib/display/projections.h"
#include "lib/display/styles.h"
#include "lib/plot/plot.h"
#include "platform/safe_output.h"

extern char** environ;

namespace interp {

namespace {

inline constexpr int kFormatNameChars = 32;
inline constexpr int kDeviceStringChars = 1024;

struct PlotSession {
  int mode = 0;                      // 0 none, 1 monochrome, 2 colour
  std::string format;                // the format name
  std::string device;                // the copy device, empty for a file
  std::string path;                  // the file written
  platform::SafeOutput out;
  std::FILE* stream = nullptr;
  display::GeometrySpec spec;        // what built the plot geometry
  display::MapGeometry geometry;
  plot::Plot plot;
  std::vector<pid_t> copies;         // copy programs not reaped yet
};
PlotSession g_plot;

bool Usage(const char* args, const char* text) {
  if (!IsUsageRequest(args)) return false;
  PostText(2, "%s", text);
  return true;
}

void Refuse(GlobalBlock& g) { g.error_level = EL_FAILURE; }

std::string FormatKey(const std::string& format, const char* ending) { return format + ending; }

std::string KeyText(GlobalBlock& g, const std::string& key, const char* dflt) {
  std::string text;
  if (g.keyed_store && GetKeyString(g.keyed_store, key.c_str(), text)) return text;
  return dflt;
}

int KeyInt(GlobalBlock& g, const std::string& key) {
  return g.keyed_store ? GetKeyInteger(g.keyed_store, key.c_str(), 0) : 0;
}

double KeyDouble(GlobalBlock& g, const std::string& key) {
  const std::string text = KeyText(g, key, "-1.0");
  char* end = nullptr;
  const double v = strtod(text.c_str(), &end);
  return end == text.c_str() ? -1.0 : v;
}

bool SinkWrite(void* context, const char* data, size_t n) {
  std::FILE* f = static_cast<std::FILE*>(context);
  return f && fwrite(data, 1, n, f) == n;
}

// "prn", "lpt1".."lpt3", "com1".."com4", with or without ":", any case.
bool IsCopyDevice(const char* name, std::string* device) {
  std::string s = name;
  if (!s.empty() && s.back() == ':') s.pop_back();
  for (char& c : s) c = (char)tolower((unsigned char)c);
  const bool ok = s == "prn" || ((s.size() == 4) && ((s.compare(0, 3, "lpt") == 0 && s[3] >= '1' && s[3] <= '3') ||
                                                     (s.compare(0, 3, "com") == 0 && s[3] >= '1' && s[3] <= '4')));
  if (ok) *device = s;
  return ok;
}

void ReapCopies() {
  for (size_t i = 0; i < g_plot.copies.size();) {
    int status = 0;
    if (waitpid(g_plot.copies[i], &status, WNOHANG) != 0)
      g_plot.copies.erase(g_plot.copies.begin() + (long)i);
    else
      ++i;
  }
}

// Leaves no plot: no file (the temporary one removed), no geometry, mode 0.
void DropPlot(GlobalBlock& g) {
  platform::SafeAbandon(g_plot.out);
  g_plot.stream = nullptr;
  display::ReleaseMapGeometry(&g_plot.geometry);
  g_plot.mode = 0;
  g_plot.device.clear();
  Display(g).plot_mode = 0;
}

void PlotStart(GlobalBlock& g, const char* args) {
  ReapCopies();
  char format[WORD_SIZE], file[WORD_SIZE];
  const char* rest = NextWord(args, format, sizeof format);
  NextWord(rest, file, sizeof file);
  format[kFormatNameChars] = '\0';
  if (!format[0]) {
    PostText(4, "Output file or device name not given");
    return Refuse(g);
  }
  if (g_plot.mode != 0) {
    PostText(4, "Plot output currently active");
    return Refuse(g);
  }
  display::MapGeometry* screen = CurrentGeometry(g);
  if (!screen || !screen->params) {
    PostText(4, "Sceen map geometry undefined");
    return Refuse(g);
  }
  const std::string name = format;
  const int device = KeyInt(g, FormatKey(name, ".device"));
  if (device != 1 && device != 2) {
    PostText(4, "Bad/missing string name %s or device number %d", name.c_str(), device);
    return Refuse(g);
  }
  const int left = KeyInt(g, FormatKey(name, ".left")), right = KeyInt(g, FormatKey(name, ".right"));
  const int top = KeyInt(g, FormatKey(name, ".top")), bottom = KeyInt(g, FormatKey(name, ".bottom"));
  if (left == right || bottom == top) {
    PostText(4, "Missing/invalid plotter rectangle values %d %d %d %d", left, right, bottom, top);
    return Refuse(g);
  }
  const double width = KeyDouble(g, FormatKey(name, ".width")), height = KeyDouble(g, FormatKey(name, ".height"));
  if (width < 0 || height < 0) {
    PostText(4, "Missing/invalid plot frame width/height %lg %lg", width, height);
    return Refuse(g);
  }
  // A world map stretched over the whole client area is stretched on the
  // plot too; any other map keeps the screen's scale.
  const GeometryRequest request = CurrentGeometryRequest(g);
  const MapField field = CurrentMapField(g);
  const bool world = display::IsWorldWide(screen->projection);
  const bool whole = screen->xmin == 0 && screen->ymin == 0 && screen->xmax == field.width - 1 &&
                     screen->ymax == field.height - 1;
  display::GeometrySpec spec;
  spec.projection = screen->projection;
  spec.rot_ref = screen->rot_ref;
  spec.centre = request.centre;
  spec.scale = world ? (whole ? geodesy::NOVALUE : 1e8) : screen->scale;
  spec.pixel_width = width / std::abs(left - right);
  spec.pixel_height = height / std::abs(top - bottom);
  spec.frame = {left, bottom, right, top};
  spec.point_capacity = plot::kPlotCapacity;
  const int code = display::SetUpMapGeometry(g.cell_index, &g.workspace, nullptr, g.ellipsoid, spec, &g_plot.geometry);
  if (code != display::MAPGEOM_OK) {
    PostText(4, "Plot window geometry error %d", code);
    return Refuse(g);
  }
  // From here on every refusal releases the geometry and leaves mode 0: the
  // plot becomes active only once its file is open.
  if (!file[0]) {
    PostText(4, "No output file/device name given");
    DropPlot(g);
    return Refuse(g);
  }
  std::string dev;
  char built[FILE_NAME_SIZE];
  if (IsCopyDevice(file, &dev)) {
    BuildFileName("_temp", g.dirs.temp.c_str(), ".hpg", built);
  } else {
    dev.clear();
    ExpandDirectoryAlias(g, file, sizeof file);
    BuildFileName(file, g.dirs.temp.c_str(), ".hpg", built);
  }
  int s = platform::SafeOpen(g_plot.out, built);
  std::FILE* f = s == 0 ? platform::SafeStream(g_plot.out) : nullptr;
  if (!f) {
    PostText(4, "Hardcopy stream file %s open failed", built);
    DropPlot(g);
    return Refuse(g);
  }
  g_plot.stream = f;
  g_plot.path = built;
  g_plot.device = dev;
  g_plot.format = name;
  g_plot.spec = spec;
  g_plot.mode = device;
  plot::InitPlot(&g_plot.plot, device, spec.frame, Display(g).surface.background, {f, SinkWrite});
  Display(g).plot_mode = device;
  PostText(2, "Plot output file %s open", built);
  const std::string init = KeyText(g, FormatKey(name, ".init.string"), "");
  if (!init.empty()) {
    plot::PlotWrite(&g_plot.plot, init);
    plot::FlushPlot(&g_plot.plot);
  }
}

// Starts the copy program with (file, device), not waiting for it.
bool StartCopy(GlobalBlock& g) {
  std::string command = KeyText(g, "plot.copy.command", "");
  if (command.empty()) command = g.dirs.program + "pltcopy";
  std::vector<char*> argv = {command.data(), g_plot.path.data(), g_plot.device.data(), nullptr};
  pid_t pid = 0;
  if (posix_spawn(&pid, command.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return false;
  g_plot.copies.push_back(pid);
  return true;
}

void PlotEnd(GlobalBlock& g) {
  ReapCopies();
  if (g_plot.mode == 0) {
    PostText(4, "No plot output currently active");
    return Refuse(g);
  }
  const std::string term = KeyText(g, FormatKey(g_plot.format, ".term.string"), "");
  if (!term.empty()) plot::PlotWrite(&g_plot.plot, term);
  const bool written = plot::FlushPlot(&g_plot.plot);
  const int s = written ? platform::SafeCommit(g_plot.out) : platform::kSafeWriteFailed;
  const std::string device = g_plot.device, path = g_plot.path;
  if (!written) platform::SafeAbandon(g_plot.out);
  g_plot.stream = nullptr;
  display::ReleaseMapGeometry(&g_plot.geometry);
  g_plot.mode = 0;
  g_plot.device.clear();
  Display(g).plot_mode = 0;
  if (s != 0) {
    // A plot that did not reach its file is not reported as closed.
    PostText(4, "Plot file %s not written: %s", path.c_str(), platform::SafeStatusText(s));
    return Refuse(g);
  }
  if (device.empty()) {
    PostText(2, "Plot file closed");
    return;
  }
  g_plot.path = path;
  g_plot.device = device;
  const bool started = StartCopy(g);
  g_plot.device.clear();
  if (started) {
    PostText(2, "Plot output copied to %s", device.c_str());
  } else {
    PostText(2, "Plot file copy to %s failed", device.c_str());
    Refuse(g);
  }
}

}  // namespace

bool PlotActive() { return g_plot.mode != 0; }

display::MapGeometry* TargetGeometry(GlobalBlock& g) {
  if (g_plot.mode != 0) return &g_plot.geometry;
  return CurrentGeometry(g);
}

void AimAtTarget(GlobalBlock&, display::DrawState* state) {
  state->plot = g_plot.mode != 0 ? plot::Target(&g_plot.plot) : nullptr;
}

bool PlotFillArea(GlobalBlock& g, cells::CellIndex* index, const cells::Object& obj, const char* style_value) {
  display::MapGeometry fill;
  display::DisplaySurface grid;
  const int code = plot::SetUpFillGrid(&g_plot.plot, g_plot.spec, g.ellipsoid, index, &g.workspace, &fill, &grid);
  if (code != display::MAPGEOM_OK) {
    PostText(4, code > 7 ? "Fill memory shortfall, increase workspace" : "Fill status %d", code);
    return false;
  }
  // An object of another cell index gets its visible cells in the grid's
  // geometry as well.
  if (index != g.cell_index) display::BuildVisibleCells(index, &g.workspace, &fill, 1);
  display::DrawState state;
  AimAtTarget(g, &state);
  // The grid's blocks cover the ground of the screen's (kFillBlock pixels),
  // to the nearest grid unit: the plane extent of a screen pixel over that
  // of a grid unit.
  int block = display::kFillBlock;
  if (const display::MapGeometry* screen = CurrentGeometry(g)) {
    const double screen_unit = screen->plane_width / std::max(1, screen->xmax - screen->xmin + 1);
    const double grid_unit = fill.plane_width / std::max(1, fill.xmax - fill.xmin + 1);
    if (screen_unit > 0.0 && grid_unit > 0.0) {
      const double ratio = screen_unit / grid_unit;
      if (ratio > 1.0) block = static_cast<int>(std::min(64.0, std::round(display::kFillBlock * ratio)));
    }
  }
  if (display::OpenAreas(&state, &grid, display::ParseAreaStyle(style_value)) == display::kDrawOk) {
    display::FillObjectArea(fill, *index, obj, g.fuzz_angle, &state, block);
    display::CloseDrawState(&state);
  }
  display::ReleaseMapGeometry(&fill);
  g_plot.plot.rows.clear();
  g_plot.plot.rows.shrink_to_fit();
  return true;
}

void CmdPlotStartEnd(GlobalBlock& g, const char* args, int variant, int) {
  if (variant == 1) {
    if (Usage(args, "FormatName FileName")) return;
    PlotStart(g, args);
  } else {
    if (Usage(args, "")) return;
    PlotEnd(g);
  }
}

void CmdPlotFrame(GlobalBlock& g, const char* args, int, int) {
  if (Usage(args, "[style]")) return;
  char word[WORD_SIZE];
  NextWord(args, word, sizeof word);
  display::MapGeometry* geometry = TargetGeometry(g);
  if (!geometry || !geometry->params) {
    PostText(4, "No map geometry");
    return Refuse(g);
  }
  DisplayContext& d = Display(g);
  display::DrawState state;
  AimAtTarget(g, &state);
  if (display::OpenLines(&state, &d.surface, display::ParseLineStyle(StyleValue(g, word[0] ? word : nullptr, "frame"))) !=
      display::kDrawOk) {
    PostText(4, "Graphics memory");
    g.error_level = EL_NOT_APPLICABLE;
    return;
  }
  const display::DeviceFrame& f = geometry->frame;
  display::BeginPolyline(&state, f.x0, f.y1);
  display::AddPolylinePoint(&state, f.x1, f.y1);
  display::AddPolylinePoint(&state, f.x1, f.y0);
  display::AddPolylinePoint(&state, f.x0, f.y0);
  display::AddPolylinePoint(&state, f.x0, f.y1);
  display::FinishPolyline(&state);
  display::CloseDrawState(&state);
  ++d.surface.generation;
}

void CmdPlotString(GlobalBlock& g, const char* args, int, int) {
  if (Usage(args, "DeviceCommandString")) return;
  if (g_plot.mode == 0) return;
  // A buffer of its own: the string may be far longer than a word.
  std::vector<char> text(kDeviceStringChars + 2);
  NextWord(args, text.data(), (int)text.size());
  const size_t n = strlen(text.data());
  if (n > (size_t)kDeviceStringChars) {
    // Half an instruction would spoil the plot: nothing is written.
    PostText(4, "Device command string longer than %d characters", kDeviceStringChars);
    return Refuse(g);
  }
  plot::PlotWrite(&g_plot.plot, text.data(), n);
  plot::FlushPlot(&g_plot.plot);
}

void CmdPlotInclude(GlobalBlock& g, const char* args, int, int) {
  if (Usage(args, "FileName")) return;
  if (g_plot.mode == 0) return;
  char word[WORD_SIZE];
  NextWord(args, word, sizeof word);
  if (!word[0]) {
    PostText(4, "No include file name given");
    return Refuse(g);
  }
  ExpandDirectoryAlias(g, word, sizeof word);
  char built[FILE_NAME_SIZE];
  BuildFileName(word, g.dirs.data.c_str(), ".hpg", built);
  // Only a regular file: a directory, a FIFO or a device would hang the
  // copy or never end it. O_NONBLOCK keeps a FIFO from blocking the open.
  const int fd = open(built, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (fd >= 0) close(fd);
    PostText(4, "Include file %s open failed", built);
    return Refuse(g);
  }
  ShowWaitPointer(true);
  char buf[1 << 16];
  ssize_t got;
  bool failed = false;
  while ((got = read(fd, buf, sizeof buf)) != 0) {
    if (got < 0) {
      if (errno == EINTR) continue;
      failed = true;
      break;
    }
    plot::PlotWrite(&g_plot.plot, buf, (size_t)got);
  }
  close(fd);
  plot::FlushPlot(&g_plot.plot);
  ShowWaitPointer(false);
  if (failed) {
    PostText(4, "Include file %s open failed", built);
    Refuse(g);
  }
}

void EndPlotAtExit(GlobalBlock& g) {
  if (g_plot.mode != 0) PlotEnd(g);
}

}  // namespace interp

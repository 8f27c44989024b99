// Start-up from the initialisation file.
//
// The steps run top to bottom in StartUp, each a few lines that end in Fail()
// (the box, then a non-zero exit status) or go on. Keys are read in the order
// of the keyword table so that the first faulty key is the one reported. The
// fixed data files are only checked and (for the cell index and the marker
// file) loaded here; their formats belong to the code that uses them.
//
// The initialisation file is "<program>.oin" beside the program (the program
// directory being /proc/self/exe's, or OMBREL_HOME), the help page
// "<program>.html" likewise.
#include "interp/startup.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <SDL.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "interp/dispatcher.h"
#include "interp/keyed_store.h"
#include "lib/cells/cell_index.h"
#include "lib/cells/index_file.h"
#include "lib/display/colour.h"
#include "lib/display/projections.h"
#include "interp/cmd_map.h"
#include "lib/geodesy/angle_text.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/memcheck.h"
#include "platform/report.h"
#include "platform/screen.h"

namespace interp {
namespace {

constexpr double kPi = 3.14159265358979323846;

bool Fail(GlobalBlock& g, int* exit_status, const char* text) {
  platform::MessageBox(g.program_name.c_str(), text, platform::BoxKind::Stop);
  *exit_status = STARTUP_FAILED;
  return false;
}

void Warn(GlobalBlock& g, const char* text) {
  platform::MessageBox(g.program_name.c_str(), text, platform::BoxKind::Warning);
}

std::string Key(const KeyedStore* s, const char* key, const char* dflt) {
  std::string v;
  if (!GetKeyString(s, key, v)) v = dflt ? dflt : "";
  return v;
}

bool KeyGiven(const KeyedStore* s, const char* key, std::string* value) {
  return GetKeyString(s, key, *value) && !value->empty();
}

bool Readable(const std::string& path) { return access(path.c_str(), R_OK) == 0 && platform::FileExists(path.c_str()); }

// The program's own name without directory and extension ("ombrel").
std::string ProgramStem() {
  const std::string path = platform::ProgramPath();
  std::string base = path.substr(path.find_last_of('/') + 1);
  const std::size_t dot = base.find_last_of('.');
  if (dot != std::string::npos && dot > 0) base.erase(dot);
  return base.empty() ? std::string("ombrel") : base;
}

// "6.1.0-13-amd64" -> 6, 1, 0.
void ParseRelease(const char* release, int* major, int* minor, int* build) {
  int* parts[3] = {major, minor, build};
  const char* p = release;
  for (int i = 0; i < 3; ++i) {
    *parts[i] = std::atoi(p);
    while (*p >= '0' && *p <= '9') ++p;
    if (*p != '.') break;
    ++p;
  }
}

}  // namespace

bool ReadSystemFacts(StartupValues& v) {
  struct utsname u {};
  if (uname(&u) != 0) return false;
  v.system_name = u.sysname;
  v.system_release = u.release;
  ParseRelease(u.release, &v.major, &v.minor, &v.build);
#if defined(__clang__)
  v.toolchain = "clang " __clang_version__;
#elif defined(__GNUC__)
  v.toolchain = "g++ " __VERSION__;
#endif
  return true;
}

namespace {

// The single-instance lock of interactive windowed runs: an advisory lock
// on a file in $XDG_RUNTIME_DIR (or /tmp), named after the user and the
// display, that holds the owner's process id.
// The descriptor stays open for the whole run; the lock goes with the process.
// *owner is the running instance's process id (0 when unknown).
bool AnotherInstanceRuns(long* owner) {
  *owner = 0;
  const char* dir = std::getenv("XDG_RUNTIME_DIR");
  std::string path = (dir && *dir) ? dir : "/tmp";
  // One instance per user and display: runs on different (say virtual)
  // displays do not see each other.
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) display = std::getenv("WAYLAND_DISPLAY");
  std::string screen = display ? display : "";
  for (char& c : screen)
    if (c == '/') c = '_';
  path += "/ombrel-" + std::to_string(static_cast<long>(getuid())) + "-" + screen + ".lock";
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return false;  // no lock to be had: never refuse a start for that
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    char pid[32] = {};
    if (read(fd, pid, sizeof pid - 1) > 0) *owner = std::atol(pid);
    close(fd);
    return true;
  }
  const std::string pid = std::to_string(static_cast<long>(getpid())) + "\n";
  if (ftruncate(fd, 0) == 0 && write(fd, pid.data(), pid.size()) < 0) {
    // The pid is only informative.
  }
  return false;
}

bool WindowSystemUp() {
  const char* d = std::getenv("DISPLAY");
  const char* w = std::getenv("WAYLAND_DISPLAY");
  return (d && *d) || (w && *w);
}

// The browser command: the key, else xdg-open when it is on the path.
std::string FindOnPath(const char* program) {
  const char* path = std::getenv("PATH");
  if (!path) return {};
  std::string dirs = path;
  std::size_t start = 0;
  while (start <= dirs.size()) {
    std::size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string candidate = dirs.substr(start, end - start);
    if (candidate.empty()) candidate.assign(1, '.');
    candidate += "/";
    candidate += program;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return {};
}

// Reads the marker file: lines with leading blanks skipped, ";" lines
// comments, 1 to 32 texts kept in one CheckedAlloc block. 0 success; 1 not
// openable; 2 invalid count; 3 no memory.
int ReadMarkerFile(const std::string& path, StartupValues& v) {
  std::FILE* f = std::fopen(path.c_str(), "r");
  if (!f) return 1;
  std::vector<std::string> texts;
  char line[1024];
  bool tooMany = false;
  while (std::fgets(line, sizeof line, f)) {
    const bool whole = std::strchr(line, '\n') != nullptr || std::feof(f);
    char* p = line;
    while (*p == ' ' || *p == '\t') ++p;
    std::size_t n = std::strlen(p);
    while (n > 0 && (p[n - 1] == '\n' || p[n - 1] == '\r')) p[--n] = '\0';
    if (*p == ';' || (*p == '\0' && whole)) {
      // a comment, or an empty line
    } else if (texts.size() >= 32) {
      tooMany = true;
    } else {
      texts.emplace_back(p);
    }
    // The rest of an over-long line belongs to the same text: skip it.
    while (!whole && std::fgets(line, sizeof line, f) && !std::strchr(line, '\n')) {
    }
  }
  std::fclose(f);
  if (texts.empty() || tooMany) return 2;
  std::size_t total = 0;
  for (const auto& t : texts) total += t.size() + 1;
  char* block = static_cast<char*>(platform::CheckedAlloc(total));
  if (!block) return 3;
  v.marker_block = block;
  v.marker_texts.clear();
  for (const auto& t : texts) {
    std::memcpy(block, t.c_str(), t.size() + 1);
    v.marker_texts.push_back(block);
    block += t.size() + 1;
  }
  return 0;
}

// Boxes while a person sits at a display: the standard-error line and an SDL
// message box. Only runs whose console is a terminal get the box, so that a
// test under a virtual display is never stopped by a box nobody can close.
bool WindowBox(const char* title, const char* text, platform::BoxKind kind) {
  std::fflush(stdout);
  std::fprintf(stderr, "%s: %s\n", title ? title : platform::PROGRAM_NAME, text ? text : "");
  std::fflush(stderr);
  const Uint32 flags = kind == platform::BoxKind::Information ? SDL_MESSAGEBOX_INFORMATION
                       : kind == platform::BoxKind::Warning   ? SDL_MESSAGEBOX_WARNING
                                                              : SDL_MESSAGEBOX_ERROR;
  SDL_ShowSimpleMessageBox(flags, title ? title : platform::PROGRAM_NAME, text ? text : "", nullptr);
  return true;
}

// Colour of a colour key, by the colour notation of the styles.
uint32_t KeyColour(const KeyedStore* s, const char* key, const char* dflt) {
  std::string value = Key(s, key, dflt);
  return display::ReadStyleColour(value);
}

}  // namespace

StartupValues* Startup(GlobalBlock& g) { return g.startup; }

std::string NormaliseDirectory(const std::string& value, const std::string& home, const std::string& script) {
  std::string v = value;
  for (char& c : v)
    if (c == '\\') c = '/';
  if (!v.empty() && (v[0] == '~' || v[0] == '^')) {
    const std::string& base = v[0] == '~' ? home : script;
    std::size_t skip = 1;
    if (v.size() > 1 && v[1] == '/') skip = 2;
    v = base + v.substr(skip);
  }
  if (v.empty() || v.back() != '/') v += '/';
  return v;
}

std::vector<std::string> SplitValues(const std::string& value) {
  std::vector<std::string> out;
  std::string word;
  for (char c : value) {
    if (c == ' ' || c == '\t' || c == ',' || c == '\n' || c == '\r') {
      if (!word.empty()) out.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) out.push_back(word);
  return out;
}

bool WindowPosition(const std::string& value, WindowRect* rect, int screen_width, int screen_height) {
  const std::vector<std::string> n = SplitValues(value);
  if (n.size() < 4) return false;
  const long l = std::atol(n[0].c_str()), t = std::atol(n[1].c_str());
  const long w = std::atol(n[2].c_str()), h = std::atol(n[3].c_str());
  auto clampInt = [](long long x) {
    return static_cast<int>(x < -1000000 ? -1000000 : (x > 1000000 ? 1000000 : x));
  };
  if (screen_width <= 0) screen_width = SCREEN_WIDTH_PX;
  if (screen_height <= 0) screen_height = SCREEN_HEIGHT_PX;
  rect->left = clampInt(static_cast<long long>(l) * screen_width / 80);
  rect->top = clampInt(static_cast<long long>(t) * screen_height / 60);
  rect->width = clampInt(static_cast<long long>(w) * screen_width / 80 - 1);
  rect->height = clampInt(static_cast<long long>(h) * screen_height / 60 - 1);
  return true;
}

bool SelectEllipsoid(GlobalBlock& g, int number, double a, double b) {
  StartupValues* v = g.startup;
  if (!v) return false;
  geodesy::Ellipsoid e;
  char name[geodesy::ELLIPSOID_NAME_MAX + 1] = {};
  if (number == 0) {
    e.a = a;
    e.b = b;
    if (geodesy::EllipsoidSetup(0, e) != 0) return false;
    std::snprintf(name, sizeof name, "User");
  } else if (geodesy::EllipsoidSetup(number, e, name) != 0) {
    return false;
  }
  v->ellipsoid = e;
  v->ellipsoid_number = number;
  v->ellipsoid_name = name;
  g.ellipsoid = &v->ellipsoid;
  g.settings.ellipsoid_number = number;
  return true;
}

const char* BuildStamp() { return __DATE__ " " __TIME__; }

std::string BrowserCommand(const std::string& key, const std::string& opener) {
  std::string command = key.empty() ? opener : key;
  const std::size_t n = key.size();
  const bool endsInExe = n > 6 && (key.compare(n - 3, 3, "exe") == 0 || key.compare(n - 3, 3, "EXE") == 0);
  if ((key.empty() && !opener.empty()) || endsInExe) command.push_back(' ');
  return command;
}

double FuzzAngle(const GlobalBlock& g, double metres) {
  if (!g.ellipsoid) return 0.0;
  return metres / ((2.0 * g.ellipsoid->a + g.ellipsoid->b) / 3.0);
}

bool StartUp(GlobalBlock& g, const RunOptions& options, int* exit_status) {
  *exit_status = STARTUP_FAILED;
  g.batch = options.batch;
  g.headless = options.headless || options.batch;
  g.build_date = BuildStamp();
  g.startup = new StartupValues;
  StartupValues& v = *g.startup;
  if (!g.headless && WindowSystemUp() && platform::StdinIsTerminal()) platform::SetBoxHook(WindowBox);

  // System facts.
  if (!ReadSystemFacts(v)) return Fail(g, exit_status, "Unable to access operating system version info?");

  // Start time and the command table.
  g.start_tick = platform::TickMs();
  g.start_time = platform::WallClockText();
  ExecuteCommandLine(g, nullptr);

  // Memory check file.
  char first[512];
  std::snprintf(first, sizeof first, "; %s as of: %s, start at: %s;\n", g.program_name.c_str(),
                g.build_date.c_str(), g.start_time.c_str());
  // The full name, so that the check at the end finds the file even after
  // Set current.directory has moved the process elsewhere.
  const std::string memoryCheckFile = platform::CurrentDirectory() + "/ombrel.mem";
  g.memory_check_on = platform::OpenMemoryCheck(memoryCheckFile.c_str(), first);
  if (!g.memory_check_on) Warn(g, "Warning: memory check file open error");
  osb = &g;

  // One interactive windowed instance at a time; batch and headless runs are
  // never refused.
  long owner = 0;
  if (!g.headless && WindowSystemUp() && AnotherInstanceRuns(&owner)) {
    char text[128];
    std::snprintf(text, sizeof text, "Ombrel is already running (process %ld): use its console", owner);
    Warn(g, text);
    *exit_status = 0;
    return false;
  }

  // The initialisation file.
  g.dirs.program = platform::ProgramDirectory();
  const std::string stem = ProgramStem();
  g.dirs.ini_file = g.dirs.program + stem + ".oin";
  g.keyed_store = OpenKeyedStore(g.dirs.ini_file.c_str());
  if (!g.keyed_store) return Fail(g, exit_status, "Missing initialization file");
  const char* message = nullptr;
  const int badLine = CheckKeyedStoreSyntax(g.keyed_store, &message);
  if (badLine != 0) {
    char text[1400];
    std::snprintf(text, sizeof text, "%s\nSyntax error (line %d): %s", g.dirs.ini_file.c_str(), badLine, message);
    return Fail(g, exit_status, text);
  }
  const KeyedStore* ks = g.keyed_store;

  // Help page.
  g.dirs.help_document = g.dirs.program + stem + ".html";
  if (!Readable(g.dirs.help_document)) return Fail(g, exit_status, "Missing help file");

  // Program and home directories.
  {
    const std::string path = platform::ProgramPath();
    const std::size_t at = path.find("riru64");
    g.dirs.home = at != std::string::npos ? path.substr(0, at) : g.dirs.program;
  }

  // Browser command: the key, else the desktop's opener of HTML pages.
  {
    const std::string key = Key(ks, "html.shell.open.command", "");
    g.dirs.browser_command = BrowserCommand(key, key.empty() ? FindOnPath("xdg-open") : std::string());
    if (g.dirs.browser_command.empty()) Warn(g, "Warning: can't find browser. May not be able to display Help");
  }

  // Workspace.
  {
    int32_t size = GetKeyInteger(ks, "work.space.size", 128000);
    if (size < 32000) size = 32000;
    g.settings.work_space_size = size;
    g.workspace_memory = platform::CheckedAlloc(static_cast<std::size_t>(size));
    if (!g.workspace_memory) {
      char text[128];
      std::snprintf(text, sizeof text, "Unable to allocate workspace memory of %d", size);
      return Fail(g, exit_status, text);
    }
    platform::WorkspaceInit(&g.workspace, g.workspace_memory, size);
  }

  // Mapped output size.
  g.settings.mmf_out_size = GetKeyInteger(ks, "mmf.out.size", 16777216);
  if (g.settings.mmf_out_size < 1048576) return Fail(g, exit_status, "Invalid memory mapping size");

  // Directories: temp first, then data, script and veltrum, each normalised
  // with the script directory as it stands at that moment.
  {
    std::string value;
    if (KeyGiven(ks, "temp.directory", &value)) {
      g.dirs.temp = NormaliseDirectory(value, g.dirs.home, g.dirs.script);
    } else {
      g.dirs.temp = platform::TempDirectory();
      if (g.dirs.temp.empty() || g.dirs.temp.size() > 259) {
        Warn(g, "Warning: unable to set temporary directory");
        g.dirs.temp = g.dirs.program;
      }
    }
    g.dirs.data = NormaliseDirectory(Key(ks, "data.directory", "./"), g.dirs.home, g.dirs.script);
    g.dirs.script = NormaliseDirectory(Key(ks, "script.directory", "./"), g.dirs.home, g.dirs.script);
    g.dirs.veltrum = NormaliseDirectory(Key(ks, "veltrum.directory", "./"), g.dirs.home, g.dirs.script);
  }

  // The default cell index.
  {
    v.cell_index_file = g.dirs.program + "isotype.vix";
    char text[FILE_NAME_SIZE + 128];
    std::FILE* f = std::fopen(v.cell_index_file.c_str(), "rb");
    if (!f) {
      std::snprintf(text, sizeof text, "Voronoi index file (%s) open error", v.cell_index_file.c_str());
      return Fail(g, exit_status, text);
    }
    auto* index = new cells::CellIndex;
    const int loaded = cells::LoadVix(f, *index, 1);
    std::fclose(f);
    if (loaded != 0) {
      delete index;
      std::snprintf(text, sizeof text, "Voronoi index file (%s) load error", v.cell_index_file.c_str());
      return Fail(g, exit_status, text);
    }
    const cells::VerifyResult verified = cells::VerifyIndex(*index);
    if (verified.status != 0) {
      cells::ReleaseIndex(*index);
      delete index;
      std::snprintf(text, sizeof text, "Voronoi index file (%s) verification error: %d", v.cell_index_file.c_str(),
                    verified.status);
      return Fail(g, exit_status, text);
    }
    g.cell_index = index;
  }

  // Coast files.
  v.coast_segments = g.dirs.program + "coast.sgm";
  v.coast_vertices = g.dirs.program + "coast.vtx";
  if (!Readable(v.coast_segments) || !Readable(v.coast_vertices)) return Fail(g, exit_status, "Missing coast file");

  // HPGL marker file.
  {
    const std::string markers = g.dirs.program + "vthpglm.mrk";
    if (!Readable(markers)) return Fail(g, exit_status, "Missing HPGL marker file");
    switch (ReadMarkerFile(markers, v)) {
      case 1: return Fail(g, exit_status, "Error opening HPGL marker file");
      case 2: return Fail(g, exit_status, "Invalid HPGL marker file");
      case 3: return Fail(g, exit_status, "Unable to allocate HPGL symbol memory");
      default: break;
    }
  }

  // Numeric settings, in the order of the keyword table.
  g.settings.angle_sexagesimal = GetKeyInteger(ks, "angle.sexagesimal", 0);
  g.settings.time_scale = GetKeyInteger(ks, "time.scale", 600);
  {
    const int number = GetKeyInteger(ks, "ellipsoid.number", 34);
    if (number < 1 || number > 34 || !SelectEllipsoid(g, number)) {
      char text[64];
      std::snprintf(text, sizeof text, "Invalid ellipsoid number: %d", number);
      return Fail(g, exit_status, text);
    }
    std::string axes;
    if (GetKeyString(ks, "ellipsoid.semiaxes", axes)) {
      const std::vector<std::string> n = SplitValues(axes);
      const double a = n.size() > 0 ? std::atof(n[0].c_str()) : 0.0;
      const double b = n.size() > 1 ? std::atof(n[1].c_str()) : 0.0;
      const bool inRange = n.size() >= 2 && a >= 100.0 && a <= 7.14e7 && b >= 100.0 && b <= 7.14e7;
      if (!inRange || !SelectEllipsoid(g, 0, a, b)) {
        char text[160];
        std::snprintf(text, sizeof text, "Invalid ellipsoid semi-axis value(s) %lg %lg", a, b);
        return Fail(g, exit_status, text);
      }
    }
  }
  {
    const double metres = std::atof(Key(ks, "boundary.fuzz", "0.0").c_str());
    g.fuzz_angle = FuzzAngle(g, std::isfinite(metres) ? metres : 0.0);
    g.settings.boundary_fuzz = g.fuzz_angle;
  }
  g.settings.boundary_indicator = GetKeyInteger(ks, "boundary.indicator", 0);
  g.settings.coordinate_resolution = GetKeyInteger(ks, "coordinate.resolution", 6);
  g.settings.gravity_gm = 398601300000000.0;  // the orbit model's GM and J2
  g.settings.gravity_j2 = 0.00108263;

  // Pixel size: pixels per metre when both are given, else the display's
  // size in metres over its pixels.
  {
    const int pw = GetKeyInteger(ks, "pixel.width", -1);
    const int ph = GetKeyInteger(ks, "pixel.height", -1);
    if (pw > 0 && ph > 0) {
      g.settings.pixel_width_m = 1.0 / pw;
      g.settings.pixel_height_m = 1.0 / ph;
    } else {
      double dw = std::atof(Key(ks, "display.width", "-1.0").c_str());
      double dh = std::atof(Key(ks, "display.height", "-1.0").c_str());
      if (!(dw > 0.0) || !std::isfinite(dw)) dw = SCREEN_WIDTH_PX / SCREEN_DPI * 0.0254;
      if (!(dh > 0.0) || !std::isfinite(dh)) dh = SCREEN_HEIGHT_PX / SCREEN_DPI * 0.0254;
      g.settings.pixel_width_m = dw / SCREEN_WIDTH_PX;
      g.settings.pixel_height_m = dh / SCREEN_HEIGHT_PX;
    }
  }

  // Window positions are fractions of the real screen when there is one.
  if (!g.headless) platform::DisplayScreenSize(&v.screen_width, &v.screen_height);

  // Console values.
  if (!WindowPosition(Key(ks, "console.position", "6,8,28,24"), &v.console_rect, v.screen_width, v.screen_height))
    return Fail(g, exit_status, "Invalid console window position");
  v.console_background = KeyColour(ks, "console.background", "r255g255b255");
  v.console_text_colors[0] = KeyColour(ks, "console.text.color.input", "c7");
  v.console_text_colors[1] = KeyColour(ks, "console.text.color.info", "c6");
  v.console_text_colors[2] = KeyColour(ks, "console.text.color.warning", "c19");
  v.console_text_colors[3] = KeyColour(ks, "console.text.color.error", "c13");
  v.console_text_colors[4] = KeyColour(ks, "console.text.color.abort", "c15");
  g.settings.coincident_pixel_count = GetKeyInteger(ks, "coincident.pixel.count", 3);
  g.settings.script_echo = GetKeyInteger(ks, "script.echo", 1);
  g.settings.script_pace = GetKeyInteger(ks, "script.pace", 100);
  v.console_font_face = Key(ks, "console.font.face", "Terminal").substr(0, 31);
  v.console_font_size = GetKeyInteger(ks, "console.font.size", -15);
  g.error_level = EL_SUCCESS;

  // Map window values: checked now, used when the map window is made.
  if (!WindowPosition(Key(ks, "map.position", "34,8,44,38"), &v.map_rect, v.screen_width, v.screen_height))
    return Fail(g, exit_status, "Invalid map window position");
  v.map_background = KeyColour(ks, "background", "r255g255b255");
  {
    const std::string name = Key(ks, "projection", "stereo");
    std::string lower = name;
    for (char& c : lower)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    const std::vector<std::string> words = SplitValues(lower);
    const int code = words.empty() ? -1 : display::RecogniseProjection(words[0]);
    if (code < 0) {
      char text[1200];
      std::snprintf(text, sizeof text, "Invalid projection %s", name.c_str());
      return Fail(g, exit_status, text);
    }
    v.projection = code;
  }
  v.rotation_reflection = GetKeyInteger(ks, "rotation.reflection", 0);
  {
    const std::string text = Key(ks, "scale", "10e6");
    const double scale = std::atof(text.c_str());
    if (!(scale >= 1000.0 && scale <= 1e9)) {
      char box[1200];
      std::snprintf(box, sizeof box, "Invalid scale %s", text.c_str());
      return Fail(g, exit_status, box);
    }
    v.scale = scale;
  }
  {
    std::string center;
    if (GetKeyString(ks, "center", center)) {
      const std::vector<std::string> w = SplitValues(center);
      const double lat = w.size() > 0 ? geodesy::ParseAngle(w[0], geodesy::LAT_POSITIVE, geodesy::LAT_NEGATIVE)
                                      : geodesy::NOVALUE;
      const double lon = w.size() > 1 ? geodesy::ParseAngle(w[1], geodesy::LON_POSITIVE, geodesy::LON_NEGATIVE)
                                      : geodesy::NOVALUE;
      if (lat == geodesy::NOVALUE || lon == geodesy::NOVALUE || std::fabs(lat) > kPi / 2.0)
        return Fail(g, exit_status, "Invalid latitude/longitude");
      v.center = geodesy::GeodeticToCosines(geodesy::LatLong{lat, lon}, v.ellipsoid);
    }
  }
  // The map window's initial geometry (interp/cmd_map.h).
  if (!ApplyInitialMapGeometry(g)) return Fail(g, exit_status, "Map geometry?");

  *exit_status = 0;
  return true;
}

void ReleaseStartup(GlobalBlock& g) {
  if (g.keyed_store) {
    CloseKeyedStore(g.keyed_store);
    g.keyed_store = nullptr;
  }
  if (g.cell_index) {
    cells::ReleaseIndex(*g.cell_index);
    delete g.cell_index;
    g.cell_index = nullptr;
  }
  if (g.startup) {
    if (g.startup->marker_block) platform::CheckedFree(g.startup->marker_block);
    if (g.ellipsoid == &g.startup->ellipsoid) g.ellipsoid = nullptr;
    delete g.startup;
    g.startup = nullptr;
  }
}

}  // namespace interp

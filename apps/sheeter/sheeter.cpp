// sheeter: one map sheet of an atlas, drawn to HPGL without a window.
//
//   sheeter format-file format-section atlas-dir-1 atlas-dir-2 atlas-file
//           scene-file latitude longitude scale projection rot-ref output
//
// The sheet is drawn with the interpreter's projections, drawing states and
// HPGL output: the scene's line work, themes and labels inside a frame, with
// a title above it, a legend and a scale bar below. Any "SHEETER error:"
// ends the program with exit status 1; when standard output is a terminal
// the message stays readable for 7.5 seconds first (20 more for memory).
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "apps/sheeter/sheet_parts.h"
#include "lib/cells/cell_index.h"
#include "lib/cells/index_file.h"
#include "lib/cells/object_file.h"
#include "lib/cells/object_model.h"
#include "lib/cells/coord_text.h"
#include "lib/cells/cell_locate.h"
#include "lib/display/coast.h"
#include "lib/display/colour.h"
#include "lib/display/draw_cells.h"
#include "lib/display/draw_map.h"
#include "lib/display/draw_objects.h"
#include "lib/display/area_fill.h"
#include "lib/display/map_geometry.h"
#include "lib/display/pen.h"
#include "lib/display/projections.h"
#include "lib/display/styles.h"
#include "lib/geodesy/angle_text.h"
#include "lib/geodesy/ellipsoid.h"
#include "lib/ops/collection.h"
#include "lib/plot/hpgl.h"
#include "lib/plot/plot.h"
#include "platform/profile.h"
#include "platform/safe_output.h"
#include "platform/workspace.h"

extern char** environ;

namespace {

using geodesy::DirectionCosines;

constexpr double kPi = 3.141592653589793;

// ---------------------------------------------------------------- errors

// The output being written: dropped on every error, so that no temporary
// file stays behind and an old file of that name is left as it was.
platform::SafeOutput* g_output = nullptr;
std::string g_device_temp;

[[noreturn]] void Quit(bool memory) {
  if (g_output) platform::SafeAbandon(*g_output);
  if (!g_device_temp.empty()) unlink(g_device_temp.c_str());
  std::fflush(stdout);
  if (isatty(STDOUT_FILENO)) usleep(memory ? 27500000 : 7500000);
  std::exit(1);
}

[[noreturn]] __attribute__((format(printf, 1, 2))) void Error(const char* fmt, ...) {
  std::fputs("SHEETER error: ", stdout);
  va_list ap;
  va_start(ap, fmt);
  std::vprintf(fmt, ap);
  va_end(ap);
  const size_t n = std::strlen(fmt);
  if (n == 0 || fmt[n - 1] != '\n') std::fputc('\n', stdout);
  Quit(false);
}

// ---------------------------------------------------------------- files

std::string Lower(std::string s) {
  for (char& c : s) c = (char)std::tolower((unsigned char)c);
  return s;
}

bool IsRegularReadable(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), R_OK) == 0;
}

std::string JoinDir(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  return dir.back() == '/' ? dir + name : dir + "/" + name;
}

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Extension(const std::string& path) {
  const std::string base = BaseName(path);
  const size_t dot = base.rfind('.');
  return dot == std::string::npos ? std::string() : Lower(base.substr(dot));
}

std::string Stem(const std::string& path) {
  const std::string base = BaseName(path);
  const size_t dot = base.rfind('.');
  return dot == std::string::npos ? base : base.substr(0, dot);
}

struct Atlas {
  std::string dirs[2];
  // A name without a directory is looked for in the first, then the second
  // atlas directory; a name with one is taken as given. Returns the path
  // found, or "" (first_try gets the path tried first, for messages).
  std::string Find(const std::string& name, std::string* first_try = nullptr) const {
    if (name.find('/') != std::string::npos) {
      if (first_try) *first_try = name;
      return IsRegularReadable(name) ? name : std::string();
    }
    std::string first;
    for (const std::string& d : dirs) {
      if (d.empty()) continue;
      const std::string p = JoinDir(d, name);
      if (first.empty()) first = p;
      if (IsRegularReadable(p)) return p;
    }
    if (first_try) *first_try = first.empty() ? name : first;
    return "";
  }
};

// The file of that name in a directory, its name compared without regard to
// case; "" when there is none.
std::string FindIgnoringCase(const std::string& dir, const std::string& name) {
  if (dir.empty()) return "";
  DIR* d = opendir(dir.c_str());
  if (!d) return "";
  std::string found;
  while (dirent* e = readdir(d)) {
    if (strcasecmp(e->d_name, name.c_str()) == 0) {
      const std::string p = JoinDir(dir, e->d_name);
      if (IsRegularReadable(p)) {
        found = p;
        break;
      }
    }
  }
  closedir(d);
  return found;
}

std::string ProgramDirectory() {
  char buf[4096];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "./";
  buf[n] = '\0';
  return DirectoryOf(buf);
}

// ---------------------------------------------------------------- projections

struct OlderName {
  const char* name;
  uint32_t code;
};
// The sheet plotter's projection names: recognised by their leading letters
// (the word must begin with the whole name). noprojection and perspect are
// known but cannot make a sheet: nothing gives perspect its view.
constexpr OlderName kOlderNames[] = {
    {"noprojection", display::PROJ_NONE}, {"stereo", display::PROJ_STEREO},   {"ortho", display::PROJ_ORTHO},
    {"wwmerc", display::PROJ_WWMERC},     {"wwview", display::PROJ_WWVIEW},   {"gnomonic", display::PROJ_GNOMONIC},
    {"conical", display::PROJ_CONICAL},   {"mercator", display::PROJ_MERCATOR}, {"perspect", display::PROJ_PERSPECT},
};

// The code of a name, or -1 for a name that cannot make a sheet.
int SheetProjection(const std::string& word, std::string* name) {
  for (const OlderName& n : kOlderNames) {
    const size_t len = std::strlen(n.name);
    if (word.size() >= len && word.compare(0, len, n.name) == 0) {
      if (n.code == display::PROJ_NONE || n.code == display::PROJ_PERSPECT) return -1;
      *name = n.name;
      return (int)n.code;
    }
  }
  return -1;
}

// ---------------------------------------------------------------- the sheet

struct Sheet {
  platform::Profile format, atlas_file, scene;
  Atlas atlas;
  std::string section;
  geodesy::Ellipsoid ellipsoid;
  cells::CellIndex index;
  platform::Workspace workspace;
  void* workspace_memory = nullptr;
  display::GeometrySpec spec;
  display::MapGeometry* map = nullptr;
  plot::Plot plot;
  display::DisplaySurface surface;  // no picture: the plot takes everything
  std::FILE* out = nullptr;
  platform::SafeOutput safe;
  std::string out_path, device;
  double scale = 0;
  double lat = 0, lon = 0;
  std::string projection_name;
  int mode = 1;
  int left = 0, right = 0, top = 0, bottom = 0;
  double width = 0, height = 0;
  sheeter::MarkerFile markers;
};

bool SinkWrite(void* context, const char* data, size_t n) {
  std::FILE* f = static_cast<std::FILE*>(context);
  return f && std::fwrite(data, 1, n, f) == n;
}

void Write(Sheet& s, const std::string& text) { plot::PlotWrite(&s.plot, text); }

__attribute__((format(printf, 2, 3))) void WriteF(Sheet& s, const char* fmt, ...) {
  char buf[2048];
  va_list ap;
  va_start(ap, fmt);
  const int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  if (n > 0) plot::PlotWrite(&s.plot, buf, (size_t)std::min<int>(n, sizeof buf - 1));
}

// Plotter units per millimetre on the sheet.
double UnitsPerMm(const Sheet& s) { return 1e-3 / s.spec.pixel_width; }

// ------------------------------------------------ line work

void OpenOrQuit(int status) {
  if (status != display::kDrawOk) {
    std::printf("SHEETER error: Unable to open a drawing state %d\n", status);
    Quit(true);
  }
}

void DrawLineWork(Sheet& s) {
  const platform::ProfileSection* sec = platform::FindProfileSection(s.scene, "linework");
  if (!sec) return;
  display::CoastData coast;
  bool coast_loaded = false;
  for (const auto& [key, value] : sec->keys) {
    sheeter::ScaleRange r;
    if (!sheeter::ParseLineWork(value, &r)) Error("Invalid line work scale range (%s=%s)\n", key.c_str(), value.c_str());
    if (!sheeter::InRange(r, s.scale)) continue;
    const std::string k = Lower(key);
    static const char* const known[] = {"grid", "horizon", "coast", "cell.centers", "cell.boundary", "cell.dual",
                                        "cell.spokes"};
    bool is_known = false;
    for (const char* n : known) is_known = is_known || k == n;
    if (!is_known) Error("Unknown line work element (%s)\n", key.c_str());
    if (k == "coast" && !coast_loaded) {
      std::string tried;
      const std::string sgm = s.atlas.Find("coast.sgm", &tried);
      if (sgm.empty()) Error("Coastline file (%s) open error", tried.c_str());
      const std::string vtx = s.atlas.Find("coast.vtx", &tried);
      if (vtx.empty()) Error("Coastline file (%s) open error", tried.c_str());
      if (display::LoadCoastFiles(sgm, vtx, &coast) != display::kCoastOk)
        Error("Coastline file (%s) open error", sgm.c_str());
      coast_loaded = true;
    }
    std::printf("SHEETER - drawing: %s\n", key.c_str());
    display::DrawState state;
    state.plot = plot::Target(&s.plot);
    if (k == "cell.centers") {
      OpenOrQuit(display::OpenMarkers(&state, &s.surface, display::ParseMarkerStyle(r.style)));
      display::DrawCellCentres(*s.map, s.index, display::CellsToDraw(*s.map, s.index, nullptr), &state);
    } else {
      OpenOrQuit(display::OpenLines(&state, &s.surface, display::ParseLineStyle(r.style)));
      if (k == "grid") display::DrawGridOnMap(*s.map, &state);
      else if (k == "horizon") display::DrawHorizonOnMap(*s.map, &state);
      else if (k == "coast") display::DrawCoastOnMap(*s.map, coast, &state);
      else {
        const std::vector<int32_t> list = display::CellsToDraw(*s.map, s.index, nullptr);
        if (k == "cell.boundary") display::DrawCellOutlines(*s.map, s.index, list, &state);
        else if (k == "cell.dual") display::DrawCellDuals(*s.map, s.index, list, &state);
        else display::DrawCellSpokes(*s.map, s.index, list, &state);
      }
    }
    display::CloseDrawState(&state);
  }
}

// ------------------------------------------------ themes

// Point themes place the marker file's string for the style's symbol at each
// point; the drawing code reaches it through a copy of the plot's table with
// the marker operation replaced.
struct MarkerPen {
  const std::string* hpgl = nullptr;
};
MarkerPen g_marker_pen;

void MarkerAt(void* p, double x, double y) {
  plot::Plot* pl = static_cast<plot::Plot*>(p);
  char buf[64];
  std::snprintf(buf, sizeof buf, "PU%d,%d;", (int)plot::PlotUnit(x), (int)plot::PlotUnit(y));
  plot::PlotWrite(pl, buf, std::strlen(buf));
  plot::PlotWrite(pl, *g_marker_pen.hpgl);
}

int WantedDimension(const std::string& d) {
  if (d == "points") return 0;
  if (d == "lines") return 1;
  if (d == "area") return 2;
  return -1;
}

// The coordinate text formats of import: not drawn on a sheet.
bool IsCoordinateText(const std::string& ext) {
  return ext == ".pts" || ext == ".lns" || ext == ".rgn" || ext == ".txt" || ext == ".csv";
}

// Reads the release stamp of an object file (0 when unreadable).
int ObjectRelease(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return 0;
  unsigned char b[2] = {0, 0};
  const size_t got = std::fread(b, 1, 2, f);
  std::fclose(f);
  return got == 2 ? b[0] | (b[1] << 8) : 0;
}

// The state of a theme: markers, lines or areas (for a plot, areas fill on
// the plot's grid through a coarse geometry of their own).
struct ThemeDrawing {
  display::DrawState state;
  display::MapGeometry fill;
  display::DisplaySurface grid;
  display::PlotTarget marker_target;
  display::PlotOps marker_ops;
  bool with_fill = false;
  const display::MapGeometry* geometry = nullptr;
};

void OpenTheme(Sheet& s, int dim, const std::string& style, ThemeDrawing* t) {
  t->state.plot = plot::Target(&s.plot);
  t->geometry = s.map;
  if (dim == 0) {
    const display::MarkerStyle m = display::ParseMarkerStyle(style);
    const auto it = s.markers.markers.find(m.symbol);
    if (it != s.markers.markers.end()) {
      t->marker_target = *plot::Target(&s.plot);
      t->marker_ops = *t->marker_target.ops;
      t->marker_ops.marker = MarkerAt;
      t->marker_target.ops = &t->marker_ops;
      g_marker_pen.hpgl = &it->second;
      t->state.plot = &t->marker_target;
    } else {
      std::printf("SHEETER - Marker %d %d not in file\n", (int)m.symbol, (int)s.markers.markers.size());
    }
    OpenOrQuit(display::OpenMarkers(&t->state, &s.surface, m));
  } else if (dim == 1) {
    OpenOrQuit(display::OpenLines(&t->state, &s.surface, display::ParseLineStyle(style)));
  } else {
    const int code =
        plot::SetUpFillGrid(&s.plot, s.spec, &s.ellipsoid, &s.index, &s.workspace, &t->fill, &t->grid);
    if (code != display::MAPGEOM_OK) {
      std::printf("SHEETER error: Out of workspace memory (%d bytes)\n", (int)(s.workspace.end - s.workspace.base));
      Quit(true);
    }
    t->with_fill = true;
    t->geometry = &t->fill;
    // The plot's fills take the current pen: an area theme chooses its own,
    // the colour value on a colour plotter, the black pen (or none, for the
    // background colour) on a monochrome one.
    const display::AreaStyle a = display::ParseAreaStyle(style);
    if (s.mode >= plot::kColourPlot) WriteF(s, "\nPA;SP%u;", (unsigned)a.colour);
    else Write(s, a.colour == s.plot.background ? "\nPA;SP0;" : "\nPA;SP1;");
    OpenOrQuit(display::OpenAreas(&t->state, &t->grid, a));
  }
}

void CloseTheme(Sheet& s, ThemeDrawing* t) {
  display::CloseDrawState(&t->state);
  if (t->with_fill) {
    display::ReleaseMapGeometry(&t->fill);
    s.plot.rows.clear();
    s.plot.rows.shrink_to_fit();
  }
}

void DrawObjectTheme(Sheet& s, const std::string& path, int dim, const std::string& style) {
  cells::ObjectHandle h;
  const int st = cells::OpenObjectRead(h, path, 0, s.index.cell_count);
  if (st == 5) Error("Mis-match, release level (%d/%d)", ObjectRelease(path), 360);
  if (st != 0) Error("cant open %s for reading\n", path.c_str());
  if (h.obj.vix_id != s.index.index_id) {
    const int a = (int)s.index.index_id, b = (int)h.obj.vix_id;
    cells::CloseObject(h);
    Error("Mis-match, index_id (%d/%d)", a, b);
  }
  const int kind = h.obj.kind;
  const bool fits = (dim == 0 && (kind == cells::kPset || kind == cells::kTinPset)) ||
                    (dim == 1 && (kind == cells::kLset || kind == cells::kRset)) || (dim == 2 && kind == cells::kRset);
  if (!fits) {
    cells::CloseObject(h);
    Error("Incompatible object/rendering dimension");
  }
  ThemeDrawing t;
  OpenTheme(s, dim, style, &t);
  if (dim == 0) display::DrawObjectPoints(*t.geometry, s.index, h.obj, display::kAllVertices, &t.state);
  else if (dim == 1) display::DrawObjectLines(*t.geometry, s.index, h.obj, &t.state);
  else display::FillObjectArea(*t.geometry, s.index, h.obj, 0.0, &t.state);
  CloseTheme(s, &t);
  cells::CloseObject(h);
}

void DrawCollectionTheme(Sheet& s, const std::string& path, int dim, const std::string& style) {
  ops::Collection coll;
  std::string dat = path.substr(0, path.size() - 4) + ".dat";
  const ops::CollOpenReport r = coll.Open(path, dat, s.index, dim);
  switch (r.status) {
    case ops::kCollOk: break;
    case ops::kCollReleaseMismatch: Error("Mis-match, release level (%d/%d)", (int)r.b, (int)r.a);
    case ops::kCollIndexMismatch: Error("Mis-match, index_id (%d/%d)", (int)r.a, (int)r.b);
    case ops::kCollDimensionMismatch: Error("Incompatible object/rendering dimension");
    case ops::kCollMemoryShortfall:
      std::printf("SHEETER error: Out of workspace memory (%d bytes)\n", (int)r.a);
      Quit(true);
    default: Error("cant open %s for reading\n", r.which.empty() ? path.c_str() : r.which.c_str());
  }
  ThemeDrawing t;
  OpenTheme(s, dim, style, &t);
  const int cdim = coll.Header().dimension;
  if (cdim == 2 && dim == 2) {
    for (size_t i = 0; i < coll.RegionCount(); ++i)
      display::FillObjectArea(*t.geometry, s.index, coll.Region(i).obj, 0.0, &t.state);
  } else {
    // Member by member from the cell table: each point once; each leg once,
    // from the cell of its first vertex.
    display::PolylinePen pen(*s.map, &t.state);
    const int32_t low = coll.Header().low_cell;
    const int64_t high = coll.Header().high_cell;
    for (int64_t c = low < 0 ? 0 : low; c <= high && c < s.index.cell_count; ++c) {
      const uint8_t* rec = nullptr;
      const uint32_t k = coll.CellRecords((int32_t)c, &rec);
      for (uint32_t i = 0; i < k; ++i) {
        double v[6];
        if (cdim == 0) {
          std::memcpy(v, rec + uint64_t{i} * ops::kCollPointRecordSize, 24);
          display::PixelPoint px;
          if (display::PositionToDevice(*s.map, DirectionCosines{v[0], v[1], v[2]}, &px))
            display::Marker(&t.state, px.x, px.y);
          continue;
        }
        std::memcpy(v, rec + uint64_t{i} * ops::kCollLegRecordSize, 48);
        const DirectionCosines a{v[0], v[1], v[2]}, b{v[3], v[4], v[5]};
        if (cells::Locate(s.index, a) != (int32_t)c) continue;
        if (dim == 0) {
          display::PixelPoint px;
          if (display::PositionToDevice(*s.map, a, &px)) display::Marker(&t.state, px.x, px.y);
        } else {
          pen.MoveTo(a);
          pen.LineTo(b);
          pen.Break();
        }
      }
    }
  }
  CloseTheme(s, &t);
}

void DrawThemes(Sheet& s) {
  const platform::ProfileSection* sec = platform::FindProfileSection(s.scene, "content");
  if (!sec) return;
  for (const auto& entry : sec->keys) {
    const std::string& name = entry.first;
    std::string def;
    if (!platform::FindProfileValue(s.atlas_file, "themes", name, &def))
      Error("Theme %s not found in Atlas file", name.c_str());
    sheeter::ThemeDef t;
    if (!sheeter::ParseTheme(def, &t)) Error("Invalid theme definition (%s=%s)", name.c_str(), def.c_str());
    const int dim = WantedDimension(t.dimension);
    if (dim < 0) Error("Invalid theme dimension (%s) error", t.dimension.c_str());
    const std::string ext = Extension(t.file);
    if (ext != ".qbo" && ext != ".plr") {
      if (IsCoordinateText(ext)) Error("Unimplemented file type %s", t.file.c_str());
      Error("Unrecognized file type %s", t.file.c_str());
    }
    std::string tried;
    const std::string path = s.atlas.Find(t.file, &tried);
    if (path.empty()) Error("Theme file (%s) not found", tried.c_str());
    if (!sheeter::InRange(t.range, s.scale)) continue;
    std::printf("SHEETER - drawing theme: %s\n", name.c_str());
    if (ext == ".qbo") DrawObjectTheme(s, path, dim, t.style);
    else DrawCollectionTheme(s, path, dim, t.style);
  }
}

// ------------------------------------------------ labels

void DrawLabels(Sheet& s) {
  const platform::ProfileSection* sec = platform::FindProfileSection(s.scene, "labels");
  if (!sec) return;
  for (const auto& entry : sec->keys) {
    const std::string& name = entry.first;
    std::string def;
    if (!platform::FindProfileValue(s.atlas_file, "labels", name, &def))
      Error("Label set %s not found in Atlas file", name.c_str());
    sheeter::LabelSetDef l;
    if (!sheeter::ParseLabelSet(def, &l)) Error("Invalid label set definition (%s=%s)", name.c_str(), def.c_str());
    std::string tried;
    const std::string object = s.atlas.Find(l.object, &tried);
    if (object.empty()) Error("Theme file (%s) not found", tried.c_str());
    const std::string locations = s.atlas.Find(l.locations, &tried);
    if (locations.empty()) Error("Label location file (%s) not found", tried.c_str());
    const std::string names = s.atlas.Find(l.names, &tried);
    if (names.empty()) Error("Label name file (%s) not found", tried.c_str());
    const int make = sheeter::MakeCode(l.make);
    if (make < 0) Error("Unrecognized string-make code %s", l.make.c_str());
    cells::ObjectHandle h;
    const int st = cells::OpenObjectRead(h, object, 0, s.index.cell_count);
    if (st == 5) Error("Mis-match, release level (%d/%d)", ObjectRelease(object), 360);
    if (st != 0) Error("cant open %s for reading\n", object.c_str());
    if (h.obj.vix_id != s.index.index_id) {
      const int a = (int)s.index.index_id, b = (int)h.obj.vix_id;
      cells::CloseObject(h);
      Error("Mis-match, index_id (%d/%d)", a, b);
    }
    if (h.obj.kind != cells::kPset || !cells::ResHasAttribute(h.obj.res)) {
      cells::CloseObject(h);
      Error("Bad label object dimension: %s", l.object.c_str());
    }
    std::vector<cells::PointNode> points;
    const bool collected = cells::CollectVertices(s.index, h.obj, points);
    cells::CloseObject(h);
    if (!collected) {
      std::printf("SHEETER error: Out of workspace memory (%d bytes)\n", (int)(points.size() * sizeof(cells::PointNode)));
      Quit(true);
    }
    sheeter::LabelFiles files;
    std::string text;
    if (!platform::ReadRegularFile(locations, &text)) Error("Label location file (%s) not found", locations.c_str());
    sheeter::ParseLabelLocations(text, &files);
    if (!platform::ReadRegularFile(names, &text)) Error("Label name file (%s) not found", names.c_str());
    sheeter::ParseLabelNames(text, &files);
    std::printf("SHEETER - drawing labels: %s\n", name.c_str());
    const double mm = UnitsPerMm(s);
    int drawn = 0, skipped = files.bad_lines, off_map = 0;
    for (const cells::PointNode& p : points) {
      if (cells::IsMark(p)) continue;
      const int64_t id = (int64_t)p.attribute;
      const auto place = files.places.find(id);
      const auto label = files.names.find(id);
      if (place == files.places.end() || label == files.names.end()) {
        ++skipped;
        continue;
      }
      display::PixelPoint px;
      if (!display::PositionToDevice(*s.map, p.p, &px)) {
        ++off_map;
        continue;
      }
      const double x = px.x + place->second.dx * mm, y = px.y + place->second.dy * mm;
      if (x < s.map->xmin || x > s.map->xmax || y < s.map->ymin || y > s.map->ymax) {
        ++off_map;
        continue;
      }
      WriteF(s, "LO%d;", place->second.origin);
      WriteF(s, "SD1,21,2,1,4,%g,6,0,7,4148;SS;", place->second.size);
      std::string out;
      plot::AppendLabel(out, x, y, sheeter::MakeLabel(make, id, label->second));
      Write(s, out);
      ++drawn;
    }
    // Location lines whose id the object does not hold are skipped too.
    for (const auto& kv : files.places) {
      bool held = false;
      for (const cells::PointNode& p : points)
        if (!cells::IsMark(p) && (int64_t)p.attribute == kv.first) {
          held = true;
          break;
        }
      if (!held) ++skipped;
    }
    Write(s, "LO;\n");
    std::printf("SHEETER - labels: %d drawn, %d off the map, %d skipped\n", drawn, off_map, skipped);
  }
}

// ------------------------------------------------ frame, legend, title

// Ground metres per plotter unit at the centre of the sheet, along x: the
// inverse of the centre and of a point a little to its right.
double MetresPerUnitAtCentre(const Sheet& s) {
  const display::MapGeometry& g = *s.map;
  const int32_t cx = (g.xmin + g.xmax) / 2, cy = (g.ymin + g.ymax) / 2;
  const int32_t step = std::max<int32_t>(1, (g.xmax - g.xmin) / 1000);
  double X0, Y0, X1, Y1;
  display::DeviceToPlane(g.transform, cx, cy, &X0, &Y0);
  display::DeviceToPlane(g.transform, cx + step, cy, &X1, &Y1);
  DirectionCosines a, b;
  if (display::ProjectInverse(*g.params, g.projection, X0, Y0, &a) != 0 ||
      display::ProjectInverse(*g.params, g.projection, X1, Y1, &b) != 0)
    return s.scale * s.spec.pixel_width;
  const double angle = 2.0 * std::asin(std::min(1.0, std::sqrt(geodesy::ChordSq(a, b)) / 2.0));
  const double r = display::GeocentricRadius(s.ellipsoid, a);
  return angle * r / step;
}

std::string Centre(double lat, double lon) {
  char a[geodesy::ANGLE_TEXT_SIZE], b[geodesy::ANGLE_TEXT_SIZE];
  geodesy::FormatAngle(lat, "nss0", a, sizeof a);
  geodesy::FormatAngle(lon, "ews0", b, sizeof b);
  std::string sa = a, sb = b;
  while (!sa.empty() && sa[0] == ' ') sa.erase(0, 1);
  while (!sb.empty() && sb[0] == ' ') sb.erase(0, 1);
  return sa + " " + sb;
}

// An estimate of a text's width in plotter units for the stick font at a
// size in points: half the point size per character.
double TextWidth(const Sheet& s, const std::string& text, double points) {
  return (double)text.size() * points * 0.5 * 0.3528 * UnitsPerMm(s);
}

std::string Plain(std::string text) {
  for (char& c : text)
    if (c == '\x03' || c == '\n' || c == '\r') c = ' ';
  return text;
}

void DrawFrameLegendTitle(Sheet& s, const std::string& atlas_name, const std::string& scene_name) {
  std::printf("SHEETER - drawing frame, legend, title\n");
  const int x0 = std::min(s.left, s.right), x1 = std::max(s.left, s.right);
  const int y0 = std::min(s.bottom, s.top), y1 = std::max(s.bottom, s.top);
  const double mm = UnitsPerMm(s);
  Write(s, "\nSP1;LT;PW0.3;\n");
  WriteF(s, "IW;PA;PU%d,%d;PD%d,%d;PD%d,%d;PD%d,%d;PD%d,%d;\n", x0, y0, x1, y0, x1, y1, x0, y1, x0, y0);
  Write(s, "LO;");
  // The title: centred above the frame.
  const std::string title = Plain(platform::ProfileString(s.scene, "base", "title", ""));
  if (!title.empty()) {
    Write(s, "SD1,21,2,1,4,15,6,0,7,4148;SS;");
    const int tx = (int)std::lround((x0 + x1) / 2.0 - TextWidth(s, title, 15) / 2.0);
    const int ty = (int)std::lround(y1 + 4.0 * mm);
    WriteF(s, "PU%d,%d;SP1;LB", tx, ty);
    Write(s, title + "\x03;\n");
  }
  // The legend: two lines below the frame at its left.
  Write(s, "SD1,21,2,1,4,7,6,0,7,4148;SS;");
  const double line = 7 * 0.3528 * 1.6 * mm;
  const std::string first = "Veltrum(tm) Atlas:" + Plain(atlas_name) + ",scene:" + Plain(scene_name);
  char second[256];
  std::snprintf(second, sizeof second, "Center:%s, Scale:%.0f, Projection:%s", Centre(s.lat, s.lon).c_str(), s.scale,
                s.projection_name.c_str());
  WriteF(s, "PU%d,%d;SP1;LB", x0, (int)std::lround(y0 - line));
  Write(s, first + "\x03;\n");
  WriteF(s, "PU%d,%d;SP1;LB", x0, (int)std::lround(y0 - 2 * line));
  Write(s, std::string(second) + "\x03;\n");
  // The scale bar: below the frame at its right, true at the centre.
  const double per_unit = MetresPerUnitAtCentre(s);
  const sheeter::ScaleBar bar =
      sheeter::ChooseScaleBar(platform::ProfileString(s.scene, "base", "units", "km"), per_unit * (x1 - x0) / 4.0);
  const double length = bar.length_units * bar.unit_metres / per_unit;
  const int bx1 = x1, bx0 = (int)std::lround(x1 - length);
  const int by = (int)std::lround(y0 - 1.5 * line);
  const int tick = (int)std::lround(1.5 * mm);
  WriteF(s, "PU%d,%d;PD%d,%d;\n", bx0, by, bx1, by);
  for (int i = 0; i <= 2; ++i) {
    const int tx = (int)std::lround(bx0 + length * i / 2.0);
    WriteF(s, "PU%d,%d;PD%d,%d;\n", tx, by, tx, by + tick);
    char caption[64];
    std::snprintf(caption, sizeof caption, "%g", bar.length_units * i / 2.0 / bar.caption_divisor);
    WriteF(s, "PU%d,%d;SP1;LB", (int)std::lround(tx - TextWidth(s, caption, 7) / 2.0), by + tick + (int)std::lround(mm));
    Write(s, std::string(caption) + "\x03;\n");
  }
  WriteF(s, "PU%d,%d;SP1;LB", (int)std::lround(bx1 - TextWidth(s, bar.caption, 7)), (int)std::lround(by - line));
  Write(s, bar.caption + "\x03;\n");
  Write(s, "PU;\n");
}

// ------------------------------------------------ output and copy

// Copies the finished temporary file to its device. False (reported) on
// failure; the temporary file is then kept.
bool CopyToDevice(const std::string& temp, const std::string& device) {
  if (device == "prn") {
    const std::string program = ProgramDirectory() + "pltcopy";
    std::printf("SHEETER - copying from %s to %s\n", temp.c_str(), device.c_str());
    std::fflush(stdout);
    std::vector<char*> argv = {const_cast<char*>(program.c_str()), const_cast<char*>(temp.c_str()),
                               const_cast<char*>(device.c_str()), nullptr};
    pid_t pid = 0;
    int status = 0;
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0 ||
        waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      std::printf("SHEETER error: cant open %s for writing\n", device.c_str());
      return false;
    }
    return true;
  }
  const char* dir = std::getenv("OMBREL_DEVICE_DIR");
  const std::string target = sheeter::DevicePath(device, dir ? dir : "");
  std::printf("SHEETER - copying from %s to %s\n", temp.c_str(), target.c_str());
  const int in = open(temp.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) {
    std::printf("SHEETER error: cant open %s for reading\n", temp.c_str());
    return false;
  }
  const int out = open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_APPEND);
  if (out < 0) {
    close(in);
    std::printf("SHEETER error: cant open %s for writing\n", target.c_str());
    return false;
  }
  char buf[1 << 15];
  bool ok = true;
  for (;;) {
    const ssize_t got = read(in, buf, sizeof buf);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    for (ssize_t done = 0; done < got;) {
      const ssize_t w = write(out, buf + done, (size_t)(got - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        ok = false;
        break;
      }
      done += w;
    }
    if (!ok) break;
  }
  close(in);
  if (close(out) != 0) ok = false;
  if (!ok) std::printf("SHEETER error: cant open %s for writing\n", target.c_str());
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IOLBF, 0);
  std::printf("SHEETER - Start\n");
  // 1. Arguments and the format file.
  if (argc < 13) Error("argument count %d\n", argc);
  Sheet& s = *new Sheet;
  const std::string format_path = argv[1];
  if (!platform::LoadProfile(format_path, &s.format)) Error("cant open %s for reading\n", argv[1]);
  s.section = argv[2];

  // 2. The workspace and the map record.
  const long space = std::max(32000L, platform::ProfileInt(s.format, "veltrum", "work.space.size", 64000));
  s.workspace_memory = space < (1L << 31) ? std::malloc((size_t)space) : nullptr;
  if (!s.workspace_memory) {
    std::printf("SHEETER error: Unable to allocate workspace memory\n");
    Quit(true);
  }
  platform::WorkspaceInit(&s.workspace, s.workspace_memory, space);
  s.map = new (std::nothrow) display::MapGeometry;
  if (!s.map) {
    std::printf("SHEETER error: Unable to allocate map window memory\n");
    Quit(true);
  }

  // 3. The plotter rectangle, its size and the device.
  const auto to_int = [](long v) { return (int)std::max<long>(INT32_MIN / 2, std::min<long>(INT32_MAX / 2, v)); };
  s.left = to_int(platform::ProfileInt(s.format, s.section, "left", 0));
  s.right = to_int(platform::ProfileInt(s.format, s.section, "right", 0));
  s.top = to_int(platform::ProfileInt(s.format, s.section, "top", 0));
  s.bottom = to_int(platform::ProfileInt(s.format, s.section, "bottom", 0));
  if (s.left == s.right || s.bottom == s.top)
    Error("Missing/invalid plotter rectangle values %d %d %d %d", s.left, s.right, s.bottom, s.top);
  s.width = platform::ProfileDouble(s.format, s.section, "width", -1.0);
  s.height = platform::ProfileDouble(s.format, s.section, "height", -1.0);
  if (s.width < 0 || s.height < 0 || !std::isfinite(s.width) || !std::isfinite(s.height))
    Error("Missing/invalid plot frame width/height %lg %lg", s.width, s.height);
  const long device = platform::ProfileInt(s.format, s.section, "device", 0);
  if (device != 1 && device != 2) Error("Bad/missing string name (%s) or device number (%d)", argv[2], (int)device);
  s.mode = (int)device;

  // 4. The atlas directories, the atlas file and the marker file.
  s.atlas.dirs[0] = argv[3];
  s.atlas.dirs[1] = argv[4];
  for (const std::string& d : s.atlas.dirs) {
    if (d.empty()) continue;
    struct stat st;
    if (stat(d.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || access(d.c_str(), R_OK | X_OK) != 0)
      Error("cant open files in %s for reading\n", d.c_str());
  }
  if (s.atlas.dirs[0].empty() && s.atlas.dirs[1].empty()) Error("both atlas paths null\n");
  const std::string atlas_path = s.atlas.Find(argv[5]);
  if (atlas_path.empty() || !platform::LoadProfile(atlas_path, &s.atlas_file)) Error("cant open %s for reading\n", argv[5]);
  const char* const kMarkerFile = "VTHPGLM.MRK";
  std::string marker_path = FindIgnoringCase(s.atlas.dirs[0], kMarkerFile);
  if (marker_path.empty()) marker_path = FindIgnoringCase(s.atlas.dirs[1], kMarkerFile);
  if (marker_path.empty()) marker_path = FindIgnoringCase(DirectoryOf(format_path), kMarkerFile);
  if (marker_path.empty() || !sheeter::LoadMarkerFile(marker_path, &s.markers))
    Error("HPGL Marker file (%s) not found", kMarkerFile);

  // 5. The ellipsoid, the scale limits and the cell index.
  const long ellipsoid = platform::ProfileInt(s.atlas_file, "atlas", "ellipsoid", 34);
  if (ellipsoid < 1 || ellipsoid > geodesy::ELLIPSOID_COUNT || !geodesy::FindEllipsoidEntry((int)ellipsoid))
    Error("ellipsoid number (%ld)\n", ellipsoid);
  s.ellipsoid = geodesy::MakeEllipsoid((int)ellipsoid);
  const double large = platform::ProfileDouble(s.atlas_file, "atlas", "large.scale.limit", display::MIN_SCALE);
  const double small = platform::ProfileDouble(s.atlas_file, "atlas", "small.scale.limit", display::MAX_SCALE);
  if (!(large > 0) || !(small >= large) || !std::isfinite(small))
    Error("scale limits (%g,%g)\n", large, small);
  const std::string index_name = platform::ProfileString(s.atlas_file, "atlas", "cell.index", "isotype.vix");
  std::string index_tried;
  const std::string index_path = s.atlas.Find(index_name, &index_tried);
  if (index_path.empty()) Error("Voronoi index file (%s) not found", index_tried.c_str());
  {
    std::FILE* f = std::fopen(index_path.c_str(), "rb");
    if (!f) Error("Voronoi index file (%s) open error", index_path.c_str());
    const int loaded = cells::LoadVix(f, s.index, 1);
    std::fclose(f);
    if (loaded != 0) Error("Voronoi index (%s) file load error %d", index_path.c_str(), loaded);
  }
  std::printf("SHEETER - index: %s\n", index_path.c_str());

  // 6. The scene.
  const std::string scene_path = s.atlas.Find(argv[6]);
  if (scene_path.empty() || !platform::LoadProfile(scene_path, &s.scene)) Error("cant open %s for reading\n", argv[6]);
  std::printf("SHEETER - scene: %s\n", scene_path.c_str());

  // 7. Centre, projection, scale and rot-ref.
  s.lat = geodesy::ParseAngle(argv[7], geodesy::LAT_POSITIVE, geodesy::LAT_NEGATIVE);
  s.lon = geodesy::ParseAngle(argv[8], geodesy::LON_POSITIVE, geodesy::LON_NEGATIVE);
  if (s.lat == geodesy::NOVALUE || s.lon == geodesy::NOVALUE || std::fabs(s.lat) > kPi / 2)
    Error("invalid center latitude/longitude (%s,%s)\n", argv[7], argv[8]);
  const int projection = SheetProjection(argv[10], &s.projection_name);
  if (projection < 0) Error("projection name (%s)\n", argv[10]);
  if (projection == (int)display::PROJ_WWMERC) {
    s.scale = 1e8;
  } else {
    char* end = nullptr;
    s.scale = std::strtod(argv[9], &end);
    if (end == argv[9] || *end != '\0' || !(s.scale >= large && s.scale <= small))
      Error("out-of-limit scale (%s)\n", argv[9]);
  }
  char* rot_end = nullptr;
  const long rot_ref = std::strtol(argv[11], &rot_end, 10);
  if (rot_end == argv[11] || *rot_end != '\0' || rot_ref < 0 || rot_ref > 8) Error("rotation/reflection (%s)\n", argv[11]);

  // 8. The output: a device goes to a temporary file first.
  const std::string output = argv[12];
  if (sheeter::IsDeviceName(output, &s.device)) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = JoinDir(tmp && *tmp ? tmp : "/tmp", "hpgXXXXXX");
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = mkstemp(name.data());
    if (fd < 0) Error("cant open %s for writing\n", pattern.c_str());
    s.out_path = name.data();
    g_device_temp = s.out_path;
    s.out = fdopen(fd, "wb");
    if (!s.out) Error("cant open %s for writing\n", s.out_path.c_str());
  } else {
    s.out_path = output;
    int st = platform::SafeCheckTarget(output.c_str(), {format_path.c_str(), atlas_path.c_str(), scene_path.c_str(),
                                                        marker_path.c_str(), index_path.c_str()});
    if (st == 0) st = platform::SafeOpen(s.safe, output.c_str());
    if (st == 0) g_output = &s.safe;
    s.out = st == 0 ? platform::SafeStream(s.safe) : nullptr;
    if (!s.out) Error("cant open %s for writing\n", output.c_str());
  }
  std::printf("SHEETER - writing to: %s %s\n", s.out_path.c_str(), s.device.c_str());

  // 9. The plot geometry, as the interpreter's plots build it.
  s.spec.projection = (uint32_t)projection;
  s.spec.rot_ref = (uint32_t)rot_ref;
  s.spec.centre = geodesy::GeodeticToCosines({s.lat, s.lon}, s.ellipsoid);
  s.spec.scale = s.scale;
  s.spec.pixel_width = s.width / std::abs(s.left - s.right);
  s.spec.pixel_height = s.height / std::abs(s.top - s.bottom);
  s.spec.frame = {s.left, s.bottom, s.right, s.top};
  s.spec.point_capacity = 512;
  const int code = display::SetUpMapGeometry(&s.index, &s.workspace, nullptr, &s.ellipsoid, s.spec, s.map);
  if (code != display::MAPGEOM_OK) Error("Plot window geometry %d", code);
  std::string background = platform::ProfileString(s.scene, "base", "background", "r255g255b255");
  const uint32_t bg = display::ReadStyleColour(background);
  plot::InitPlot(&s.plot, s.mode, s.spec.frame, bg, {s.out, SinkWrite});
  s.surface.width = std::abs(s.right - s.left) + 1;
  s.surface.height = std::abs(s.top - s.bottom) + 1;
  s.surface.background = bg;
  const std::string init = platform::ProfileString(s.format, s.section, "init.string", "");
  if (!init.empty()) Write(s, init);

  // 10 to 12. Line work, themes, labels.
  DrawLineWork(s);
  DrawThemes(s);
  DrawLabels(s);

  // 13. Frame, legend, title.
  DrawFrameLegendTitle(s, platform::ProfileString(s.atlas_file, "atlas", "name", ""), Stem(scene_path));

  // 14. The end of the plot, and the copy to a device.
  const std::string term = platform::ProfileString(s.format, s.section, "term.string", "");
  if (!term.empty()) Write(s, term);
  const bool flushed = plot::FlushPlot(&s.plot);
  display::ReleaseMapGeometry(s.map);
  cells::ReleaseIndex(s.index);
  if (s.device.empty()) {
    const int st = flushed ? platform::SafeCommit(s.safe) : platform::kSafeWriteFailed;
    if (st != 0) Error("cant open %s for writing\n", s.out_path.c_str());
    g_output = nullptr;
  } else {
    const bool closed = std::fclose(s.out) == 0;
    s.out = nullptr;
    if (!flushed || !closed) Error("cant open %s for writing\n", s.out_path.c_str());
    // From here on the plot is whole: a failed copy keeps it.
    g_device_temp.clear();
    if (!CopyToDevice(s.out_path, s.device)) {
      // The plot stays in its temporary file: its name goes to standard error.
      std::fflush(stdout);
      std::fprintf(stderr, "%s\n", s.out_path.c_str());
      Quit(false);
    }
    unlink(s.out_path.c_str());
  }
  std::free(s.workspace_memory);
  delete s.map;
  delete &s;
  std::printf("SHEETER - End\n");
  return 0;
}

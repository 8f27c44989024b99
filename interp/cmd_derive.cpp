// The derivation frames DeriveUnary and DeriveBinary and the point-set
// derivation commands.
//
// A frame reads straight down: each step either passes or posts its message,
// sets the error level and returns. The sources are mapped read-only for the
// length of the command; the output is built in a temporary file beside its
// name and put in place only when the operation succeeded (or found the
// result empty), so a failed derivation leaves no file behind and never
// touches an older object of the same name, even when that is a source.
#include "interp/cmd_derive.h"
#include "interp/cmd_objects.h"
#include "interp/cmd_draw.h"

#include <strings.h>

#include <algorithm>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <string>

#include "interp/handlers.h"
#include "interp/messages.h"
#include "interp/words.h"
#include "lib/cells/cell_index.h"
#include "lib/cells/coord_text.h"
#include "lib/cells/object_file.h"
#include "lib/ops/lset_intersections.h"
#include "lib/ops/pset_ops.h"
#include "lib/ops/pset_tin.h"

namespace interp {

namespace {

constexpr int kMaxOperation = 12;
DerivationFn g_unary[kMaxOperation + 1] = {};
DerivationFn g_binary[kMaxOperation + 1] = {};

// ---- the point-set operations of this file ----

int OpSelect(const ops::DeriveContext& c, const DeriveArgs& a) {
  return ops::q7_PsetSelect(c, *a.first, a.variant | (a.datum ? 0 : ops::DATUM_IGNORED));
}
int OpSelfIntersections(const ops::DeriveContext& c, const DeriveArgs& a) {
  return ops::q7_LsetIntersections(c, *a.first, nullptr, a.fuzz);
}
int OpMerge(const ops::DeriveContext& c, const DeriveArgs& a) {
  return ops::q7_PsetMerge(c, *a.first, *a.second, a.variant, a.datum ? 0 : ops::DATUM_IGNORED);
}
int OpNearLines(const ops::DeriveContext& c, const DeriveArgs& a) {
  return ops::q7_PsetNearLines(c, *a.first, *a.second, &a.ellipsoid, a.variant, a.distance[0]);
}
int OpInRset(const ops::DeriveContext& c, const DeriveArgs& a) {
  return ops::q7_PsetInRset(c, *a.first, *a.second, a.variant, a.fuzz, a.boundary_indicator);
}
int OpIntersections(const ops::DeriveContext& c, const DeriveArgs& a) {
  return ops::q7_LsetIntersections(c, *a.first, a.second, a.fuzz);
}

struct BuiltIn {
  BuiltIn() {
    g_unary[1] = OpSelect;
    g_unary[4] = OpSelfIntersections;
    g_binary[1] = OpMerge;
    g_binary[2] = OpNearLines;
    g_binary[3] = OpInRset;
    g_binary[4] = OpIntersections;
  }
} const kBuiltIn;

// ---- what each operation takes and gives ----

// Output kind of a one-source operation (-1: same as the source).
int UnaryOutputKind(int op) {
  switch (op) {
    case 1: case 4: return cells::kPset;
    case 7: case 8: case 10: case 11: return cells::kRset;
    case 9: return -1;
    case 12: return cells::kTinPset;
    default: return cells::kPset;
  }
}

bool UnarySourceFits(int op, int kind) {
  switch (op) {
    case 1: case 8: case 10: case 12: return kind == cells::kPset;
    case 4: case 7: return kind == cells::kLset;
    case 9: return kind == cells::kLset || kind == cells::kRset;
    case 11: return kind == cells::kRset || kind == -1;
    default: return false;
  }
}

// The kinds of the first and second source of a two-source operation.
bool BinaryRoles(int op, int* first, int* second, int* out) {
  static const int roles[7][3] = {{-9, -9, 0}, {0, 0, 0}, {0, 1, 0}, {0, 2, 0},
                                  {1, 1, 0},   {1, 2, 1}, {2, 2, 2}};
  if (op < 1 || op > 6) return false;
  *first = roles[op][0];
  *second = roles[op][1];
  *out = roles[op][2];
  return true;
}

const char* UnaryUsage(int op) {
  switch (op) {
    case 7: return "nameNew name distance_right distance_left [[resolution] density_right density_left]";
    case 8: return "nameNew name distance [[resolution] density]";
    case 9: return "nameNew name width [resolution]";
    case 12: return "nameNew name [n]";
    default: return "nameNew name [resolution]";
  }
}

const char* BinaryUsage(int op) {
  switch (op) {
    case 1: return "nameNew nameA nameB [resolution [datum]]";
    case 2: return "nameNew nameA nameB proximity [resolution]";
    default: return "nameNew nameA nameB [resolution]";
  }
}

// ---- argument helpers: each posts its own message and sets the level ----

bool Fail(GlobalBlock& g, int level) {
  g.error_level = level;
  return false;
}

const char* Word(GlobalBlock& g, const char* args, char* word) {
  const char* rest = NextWord(args, word, WORD_SIZE);
  ExpandDirectoryAlias(g, word, WORD_SIZE);
  return rest;
}

std::string DataFile(GlobalBlock& g, const char* name) {
  char path[FILE_NAME_SIZE];
  BuildFileName(name, g.dirs.data.c_str(), ".qbo", path);
  return path;
}

double MeanRadius(const GlobalBlock& g) {
  const geodesy::Ellipsoid e = g.ellipsoid ? *g.ellipsoid : geodesy::MakeEllipsoid();
  return ops::MeanRadius(e);
}

bool OutputName(GlobalBlock& g, const char* name, std::string& path) {
  path = DataFile(g, name);
  const int check = name[0] ? cells::CheckNewObjectName(path) : 1;
  if (check == 1) {
    PostText(4, "Invalid object/file name (%s)", name);
    return Fail(g, EL_FAILURE);
  }
  if (check != 0) {
    PostText(4, "Unable to open (%s) for writing", path.c_str());
    return Fail(g, EL_FAILURE);
  }
  return true;
}

// The kind of an existing source, or false with the message.
bool SourceKind(GlobalBlock& g, const char* name, std::string& path, int* kind) {
  path = DataFile(g, name);
  *kind = cells::ReadObjectKind(path);
  if (*kind < 0) {
    PostText(4, "Unable to open (%s) for reading", path.c_str());
    return Fail(g, EL_FAILURE);
  }
  return true;
}

// An optional resolution indicator; the setting when absent.
bool Resolution(GlobalBlock& g, const char* word, int* res) {
  if (!word[0]) {
    *res = g.settings.coordinate_resolution;
    return true;
  }
  *res = cells::ResolutionCode(word);
  if (*res == 0) {
    PostText(4, "Invalid resolution indicator (%s)", word);
    return Fail(g, EL_FAILURE);
  }
  return true;
}

bool Density(GlobalBlock& g, const char* word, int* density) {
  if (!word[0]) return true;
  char* end = nullptr;
  const long v = std::strtol(word, &end, 10);
  if (*end != '\0' || v < 1 || v > 6) {
    PostText(4, "Invalid density indicator (%s)", word);
    return Fail(g, EL_FAILURE);
  }
  *density = static_cast<int>(v);
  return true;
}

bool OpenSource(GlobalBlock& g, const char* name, const std::string& path, cells::ObjectHandle& h) {
  const int status = cells::OpenObjectRead(h, path, g.cell_index->index_id, g.cell_index->cell_count);
  if (status == 0) return true;
  ReportOpenStatus(g, status, name);
  return false;
}

bool NeedIndex(GlobalBlock& g) {
  if (g.cell_index && g.cell_index->cell_count > 0) return true;
  PostText(4, "No cell index loaded");
  return Fail(g, EL_FAILURE);
}

// Steps 10 to 13 of both frames: create the output, run the operation,
// report its status. kind is the output kind; prec the header's prec.
void RunDerivation(GlobalBlock& g, const std::string& out_path, int kind, int res, int prec,
                   DerivationFn fn, DeriveArgs& a) {
  cells::ObjectHandle out;
  const int created = cells::CreateObject(out, out_path, kind, g.settings.mmf_out_size);
  if (created != 0) {
    if (created == 1 || created == 5)
      PostText(4, "%s: file open error", out_path.c_str());
    else if (created == 4)
      PostText(4, "%s: no space left on the file system", out_path.c_str());
    else
      PostText(4, "%s memory mapping error: %d", out_path.c_str(), created);
    cells::AbandonObject(out);
    g.error_level = EL_FAILURE;
    return;
  }
  ops::DeriveContext ctx;
  ctx.index = g.cell_index;
  ctx.workspace = &g.workspace;
  ctx.output = &out.arena;
  ctx.object = &out.obj;
  ctx.created = static_cast<std::uint32_t>(std::time(nullptr));
  ctx.res = res;
  ctx.prec = prec;
  platform::WorkspaceMark mark(&g.workspace);
  const int status = fn(ctx, a);
  if (status > 0) {
    cells::AbandonObject(out);
    PostText(4, "%s return code = %d", out_path.c_str(), status);
    g.error_level = EL_FAILURE;
    return;
  }
  if (const int closed = cells::CloseObject(out)) {
    if (closed == 4)
      PostText(4, "%s: no space left on the file system", out_path.c_str());
    else
      PostText(4, "%s: file open error", out_path.c_str());
    g.error_level = EL_FAILURE;
    return;
  }
  if (status < 0) {
    PostText(3, "%s empty object", out_path.c_str());
    g.error_level = EL_EMPTY;
  }
}

}  // namespace

void RegisterDerivation(int sources, int operation, DerivationFn fn) {
  if (operation < 1 || operation > kMaxOperation) return;
  (sources == 2 ? g_binary : g_unary)[operation] = fn;
}

// ---------------------------------------------------------------- one source

// The wait pointer over the map while a derivation runs, the arrow after it
// on every path.
struct WaitPointer {
  WaitPointer() { ShowWaitPointer(true); }
  ~WaitPointer() { ShowWaitPointer(false); }
  WaitPointer(const WaitPointer&) = delete;
  WaitPointer& operator=(const WaitPointer&) = delete;
};

void DeriveUnary(GlobalBlock& g, const char* args, int op, int variant) {
  const WaitPointer wait;
  if (IsUsageRequest(args)) {
    PostText(2, "%s", UnaryUsage(op));
    return;
  }
  char out_name[WORD_SIZE], src_name[WORD_SIZE], word[WORD_SIZE];
  const char* rest = Word(g, args, out_name);
  std::string out_path, src_path;
  if (!OutputName(g, out_name, out_path)) return;
  rest = Word(g, rest, src_name);
  int kind = -1;
  if (!src_name[0]) {
    if (op != 11) {
      PostText(4, "No output object name given");
      g.error_level = EL_FAILURE;
      return;
    }
  } else if (!SourceKind(g, src_name, src_path, &kind)) {
    return;
  }

  DeriveArgs a;
  a.operation = op;
  a.variant = variant;
  const double radius = MeanRadius(g);
  char w1[WORD_SIZE], w2[WORD_SIZE];
  if (op == 7) {
    rest = NextWord(rest, w1, WORD_SIZE);
    rest = NextWord(rest, w2, WORD_SIZE);
    a.distance[0] = std::atof(w1);
    a.distance[1] = std::atof(w2);
    if (!(a.distance[0] >= 0.001) && !(a.distance[1] >= 0.001)) {
      PostText(4, "Both left and right distances are 0.0");
      g.error_level = EL_FAILURE;
      return;
    }
    if (a.distance[0] > 0.1 * radius || a.distance[1] > 0.1 * radius) {
      PostText(4, "Distance exceeds limit (%g).", 0.1 * radius);
      g.error_level = EL_FAILURE;
      return;
    }
  } else if (op == 8 || op == 9) {
    rest = NextWord(rest, w1, WORD_SIZE);
    const double d = std::atof(w1);
    const bool bad = op == 8 ? (!(d >= 0.001) || 1.1 * d > radius) : (!(d >= 0.001) || d > 0.1 * radius);
    if (bad) {
      PostText(4, op == 8 ? "Invalid/missing distance (%s)" : "Invalid/missing width (%s)", w1);
      g.error_level = EL_FAILURE;
      return;
    }
    a.distance[0] = d;
  } else if (op == 12) {
    rest = NextWord(rest, w1, WORD_SIZE);
    if (w1[0] && w1[0] != 'n') {
      PostText(4, "Invalid neighbor list indicator (%s)", w1);
      g.error_level = EL_FAILURE;
      return;
    }
    a.neighbours = w1[0] == 'n';
  }
  // A TIN Pset always holds its vertices as two floats and the height word.
  int res = op == 12 ? ops::TIN_RESOLUTION : g.settings.coordinate_resolution;
  if (op != 12) {
    rest = NextWord(rest, word, WORD_SIZE);
    if (!Resolution(g, word, &res)) return;
  }
  if (op == 7 || op == 8) {
    for (int i = 0; i < (op == 7 ? 2 : 1); ++i) {
      rest = NextWord(rest, w1, WORD_SIZE);
      if (!Density(g, w1, &a.density[i])) return;
    }
  } else if (op == 1) {
    NextWord(rest, w1, WORD_SIZE);
    if (w1[0] && strcasecmp(w1, "datum") != 0) {
      PostText(4, "Invalid datum comparison keyword (%s)", w1);
      g.error_level = EL_FAILURE;
      return;
    }
    a.datum = w1[0] != 0;
  }
  if (!UnarySourceFits(op, kind)) {
    PostText(2, "%s: operation-dimension/type mis-match:%d", src_name, kind);
    g.error_level = EL_NOT_APPLICABLE;
    return;
  }
  const DerivationFn fn = op >= 1 && op <= kMaxOperation ? g_unary[op] : nullptr;
  if (!fn) {
    PostText(4, "Derivation %d is not available", op);
    g.error_level = EL_FAILURE;
    return;
  }
  if (!NeedIndex(g)) return;
  cells::ObjectHandle src;
  if (kind >= 0 && !OpenSource(g, src_name, src_path, src)) return;
  a.first = kind >= 0 ? &src.obj : nullptr;
  if (op == 1) {
    if (a.datum && !(src.obj.res & 1)) {
      PostText(4, "Source object has no datum");
      cells::CloseObject(src);
      g.error_level = EL_NOT_APPLICABLE;
      return;
    }
    if (ops::CoordinatePart(res) != ops::CoordinatePart(src.obj.res)) {
      PostText(4, "Source/target resolution mis-match");
      cells::CloseObject(src);
      g.error_level = EL_NOT_APPLICABLE;
      return;
    }
  }
  a.fuzz = g.fuzz_angle;
  a.boundary_indicator = g.settings.boundary_indicator;
  a.ellipsoid = g.ellipsoid ? *g.ellipsoid : geodesy::MakeEllipsoid();
  int out_kind = UnaryOutputKind(op);
  if (out_kind < 0) out_kind = kind;
  RunDerivation(g, out_path, out_kind, res, kind >= 0 ? src.obj.prec : 0, fn, a);
  if (kind >= 0) cells::CloseObject(src);
}

// ---------------------------------------------------------------- two sources

void DeriveBinary(GlobalBlock& g, const char* args, int op, int variant) {
  const WaitPointer wait;
  if (IsUsageRequest(args)) {
    PostText(2, "%s", BinaryUsage(op));
    return;
  }
  char out_name[WORD_SIZE], name[2][WORD_SIZE], word[WORD_SIZE];
  const char* rest = Word(g, args, out_name);
  std::string out_path, path[2];
  if (!OutputName(g, out_name, out_path)) return;
  rest = Word(g, rest, name[0]);
  rest = Word(g, rest, name[1]);
  int kind[2] = {-1, -1};
  bool found = true;
  for (int i = 0; i < 2; ++i) {
    path[i] = DataFile(g, name[i]);
    kind[i] = name[i][0] ? cells::ReadObjectKind(path[i]) : -2;
    if (kind[i] < 0) {
      PostText(4, "Unable to open (%s) for reading", path[i].c_str());
      found = false;
    }
  }
  if (!found) {
    g.error_level = EL_FAILURE;
    return;
  }
  DeriveArgs a;
  a.operation = op;
  a.variant = variant;
  if (op == 2) {
    rest = NextWord(rest, word, WORD_SIZE);
    const double p = std::atof(word);
    if (!(p >= 0.001) || 2.0 * p > MeanRadius(g)) {
      PostText(4, "Invalid/missing proximity (%s)", word);
      g.error_level = EL_FAILURE;
      return;
    }
    a.distance[0] = p;
  }
  int res = 0;
  rest = NextWord(rest, word, WORD_SIZE);
  if (!Resolution(g, word, &res)) return;
  if (op == 1) {
    NextWord(rest, word, WORD_SIZE);
    if (word[0] && strcasecmp(word, "datum") != 0) {
      PostText(4, "Invalid datum comparison indicator (%s)", word);
      g.error_level = EL_FAILURE;
      return;
    }
    a.datum = word[0] != 0;
  }
  // Roles: the lower kind first for the operations on two kinds.
  int want[2] = {-9, -9}, out_kind = cells::kPset;
  const bool known = BinaryRoles(op, &want[0], &want[1], &out_kind);
  int order[2] = {0, 1};
  if (known && op >= 2 && op <= 5 && kind[1] < kind[0]) order[0] = 1, order[1] = 0;
  bool fits = true;
  for (int i = 0; i < 2; ++i) {
    const int s = order[i];
    if (!known || kind[s] != want[i]) {
      PostText(2, "%s: operation-dimension/type mis-match:%d", name[s], kind[s]);
      fits = false;
    }
  }
  if (!fits) {
    g.error_level = EL_NOT_APPLICABLE;
    return;
  }
  const DerivationFn fn = g_binary[op];
  if (!fn) {
    PostText(4, "Derivation %d is not available", op);
    g.error_level = EL_FAILURE;
    return;
  }
  if (!NeedIndex(g)) return;
  cells::ObjectHandle src[2];
  if (!OpenSource(g, name[order[0]], path[order[0]], src[0])) return;
  if (!OpenSource(g, name[order[1]], path[order[1]], src[1])) {
    cells::CloseObject(src[0]);
    return;
  }
  auto close_sources = [&] {
    cells::CloseObject(src[0]);
    cells::CloseObject(src[1]);
  };
  if (op == 1) {
    bool refused = false;
    if (a.datum && (!(src[0].obj.res & 1) || !(src[1].obj.res & 1))) {
      PostText(4, "One or both source objects have no datum");
      refused = true;
    } else {
      const int c0 = ops::CoordinatePart(src[0].obj.res), c1 = ops::CoordinatePart(src[1].obj.res);
      const int co = ops::CoordinatePart(res);
      if (c0 != c1) {
        PostText(4, "Source/source resolution mis-match");
        if (c0 != co) PostText(4, "Source/target resolution mis-match");
        refused = true;
      } else if (c0 != co) {
        PostText(4, "Source/target resolution mis-match");
        refused = true;
      }
    }
    if (refused) {
      close_sources();
      g.error_level = EL_NOT_APPLICABLE;
      return;
    }
  }
  a.first = &src[0].obj;
  a.second = &src[1].obj;
  a.fuzz = g.fuzz_angle;
  a.boundary_indicator = g.settings.boundary_indicator;
  a.ellipsoid = g.ellipsoid ? *g.ellipsoid : geodesy::MakeEllipsoid();
  const int prec = std::min(src[0].obj.prec, src[1].obj.prec);
  RunDerivation(g, out_path, out_kind, res, prec, fn, a);
  close_sources();
}

}  // namespace interp

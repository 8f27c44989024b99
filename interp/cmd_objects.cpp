// Object commands: dump, erase, import from coordinate text and export to it.
//
// Each handler reads its words, completes the file names in the data
// directory, calls the library (lib/cells) and turns its statuses into the
// console messages and error levels. Every output (objects, dumps,
// exports) is built in a temporary file beside the target and renamed over
// it only on success (platform/safe_output.h), so a failed or interrupted
// command leaves an older file of that name as it was and nothing behind;
// an output that is the same file as the command's input is refused.
#include "interp/cmd_objects.h"

#include <cstdio>
#include <ctime>
#include <string>

#include "interp/handlers.h"
#include "interp/messages.h"
#include "interp/words.h"
#include "lib/cells/cell_index.h"
#include "lib/cells/coord_text.h"
#include "lib/cells/object_dump.h"
#include "lib/cells/object_file.h"
#include "lib/geodesy/angle_text.h"
#include "lib/geodesy/ellipsoid.h"
#include "platform/safe_output.h"

namespace interp {

namespace {

// ---- argument helpers: each posts its own message and sets the level ----

// The next word with a leading directory alias expanded.
const char* Word(GlobalBlock& g, const char* args, char* word) {
  const char* rest = NextWord(args, word, WORD_SIZE);
  ExpandDirectoryAlias(g, word, WORD_SIZE);
  return rest;
}

std::string DataFile(GlobalBlock& g, const char* name, const char* extension) {
  char path[FILE_NAME_SIZE];
  BuildFileName(name, g.dirs.data.c_str(), extension, path);
  return path;
}

bool NeedIndex(GlobalBlock& g) {
  if (g.cell_index && g.cell_index->cell_count > 0) return true;
  PostText(4, "No cell index loaded");
  g.error_level = EL_FAILURE;
  return false;
}

geodesy::Ellipsoid CurrentEllipsoid(const GlobalBlock& g) {
  return g.ellipsoid ? *g.ellipsoid : geodesy::MakeEllipsoid();
}


void ImportProgress(void* context, std::int64_t lines) {
  PostText(-2, "%s: %lld lines read", static_cast<const char*>(context),
           static_cast<long long>(lines));
}

}  // namespace

// The one way the program reports a failed object open.
void ReportOpenStatus(GlobalBlock& g, int status) {
  if (status == 4)
    PostText(4, "Invalid object type");
  else if (status == 5)
    PostText(4, "Object release stamp mis-match");
  else if (status == 6)
    PostText(4, ".vix identifier mis-match");
  else
    PostText(4, "memory mapping error: %d", status);
  g.error_level = EL_FAILURE;
}

void ReportOpenStatus(GlobalBlock& g, int status, const char* name) {
  if (status == 4)
    PostText(4, "%s invalid object type", name);
  else if (status == 5)
    PostText(4, "%s object release stamp mis-match", name);
  else if (status == 6)
    PostText(4, "%s .vix identifier mis-match", name);
  else
    PostText(4, "%s memory mapping error: %d", name, status);
  g.error_level = EL_FAILURE;
}

// ---------------------------------------------------------------- DumpObject

void CmdDumpObject(GlobalBlock& g, const char* args, int, int) {
  if (IsUsageRequest(args)) {
    PostText(2, "objectName [dumpFileName]");
    return;
  }
  char name[WORD_SIZE], dump[WORD_SIZE];
  const char* rest = Word(g, args, name);
  Word(g, rest, dump);
  if (!name[0]) {
    PostText(4, "No object name given");
    g.error_level = EL_FAILURE;
    return;
  }
  const std::string path = DataFile(g, name, ".qbo");
  if (cells::ReadObjectKind(path) < 0) {
    PostText(4, "Unable to open (%s) for reading", path.c_str());
    g.error_level = EL_FAILURE;
    return;
  }
  cells::ObjectHandle h;
  const std::int64_t cells = g.cell_index ? g.cell_index->cell_count : 0;
  if (int status = cells::OpenObjectRead(h, path, 0, cells)) {
    ReportOpenStatus(g, status);
    return;
  }
  const std::string out = DataFile(g, dump[0] ? dump : name, ".dmp");
  platform::SafeOutput safe;
  int opened = platform::SafeCheckTarget(out.c_str(), {path.c_str()});
  if (opened == platform::kSafeOk) opened = platform::SafeOpen(safe, out.c_str());
  std::FILE* f = opened == platform::kSafeOk ? platform::SafeStream(safe) : nullptr;
  if (!f) {
    PostText(4, "Dump file %s open failed", out.c_str());
    g.error_level = EL_FAILURE;
    return;
  }
  const int status = cells::DumpObjectText(h.obj, f);
  if (status != 0 || platform::SafeCommit(safe) != platform::kSafeOk) {
    PostText(4, "Dump file %s write error", out.c_str());
    g.error_level = EL_FAILURE;
  }
}

// ---------------------------------------------------------------- EraseObject

void CmdEraseObject(GlobalBlock& g, const char* args, int, int) {
  if (IsUsageRequest(args)) {
    PostText(2, "objectName");
    return;
  }
  char name[WORD_SIZE];
  Word(g, args, name);
  const std::string path = DataFile(g, name, ".qbo");
  int status = name[0] ? cells::EraseObjectFile(path) : 1;
  if (status == 1) {
    PostText(3, "Object %s not found", path.c_str());
    g.error_level = EL_NOT_APPLICABLE;
  } else if (status != 0) {
    PostText(4, "Can't erase %s", path.c_str());
    g.error_level = EL_FAILURE;
  }
}

// ---------------------------------------------------------------- Import

void CmdImport(GlobalBlock& g, const char* args, int kind, int) {
  if (IsUsageRequest(args)) {
    PostText(2, "objectName [textFileName [resolution [datumFmt]]]");
    return;
  }
  char name[WORD_SIZE], text[WORD_SIZE], resolution[WORD_SIZE], datum[WORD_SIZE];
  const char* rest = Word(g, args, name);
  rest = Word(g, rest, text);
  rest = NextWord(rest, resolution, WORD_SIZE);
  NextWord(rest, datum, WORD_SIZE);
  if (!NeedIndex(g)) return;

  const std::string object = DataFile(g, name, ".qbo");
  const int check = name[0] ? cells::CheckNewObjectName(object) : 1;
  if (check == 1) {
    PostText(4, "Invalid object/file name (%s)", name);
    g.error_level = EL_FAILURE;
    return;
  }
  if (check != 0) {
    PostText(4, "Unable to open (%s) for writing", object.c_str());
    g.error_level = EL_FAILURE;
    return;
  }
  const std::string source = DataFile(g, text[0] ? text : name, cells::CoordTextExtension(kind));
  // Only a regular file is read (a directory reads as nothing at all), and
  // never the object file that the import would replace.
  std::FILE* probe = platform::IsRegularFile(source.c_str()) ? std::fopen(source.c_str(), "r") : nullptr;
  if (!probe) {
    PostText(4, "Object file %s(%d) open failed", source.c_str(), kind);
    g.error_level = EL_FAILURE;
    return;
  }
  std::fclose(probe);
  if (platform::SameFile(source.c_str(), object.c_str())) {
    PostText(4, "Unable to open (%s) for writing", object.c_str());
    g.error_level = EL_FAILURE;
    return;
  }
  const cells::CoordFileType type = cells::CoordFileTypeOf(source);
  if (type.form == cells::CoordForm::kBinary) {
    PostText(4, "Binary CDC output: to be implemented");
    g.error_level = EL_FAILURE;
    return;
  }
  // Only an indicator that is not one is refused here; a code that came from
  // the setting and that the builder cannot use is its return code.
  const int res = resolution[0] ? cells::ResolutionCode(resolution) : g.settings.coordinate_resolution;
  if (resolution[0] && res == 0) {
    PostText(4, "Invalid resolution indicator (%s)", resolution);
    g.error_level = EL_FAILURE;
    return;
  }

  cells::CoordReadOptions options;
  options.kind = kind;
  options.form = type.form;
  options.res = res;
  options.datum_float = datum[0] == 'f';
  options.ellipsoid = CurrentEllipsoid(g);
  options.progress = ImportProgress;
  options.progress_context = const_cast<char*>(source.c_str());
  const std::uint32_t id = static_cast<std::uint32_t>(std::time(nullptr));
  cells::ImportResult r = cells::ImportCoordFile(*g.cell_index, source, object, options, id,
                                                 g.settings.mmf_out_size);
  switch (r.stage) {
    case cells::ImportStage::kOpenText:
      PostText(4, "Object file %s(%d) open failed", source.c_str(), kind);
      g.error_level = EL_FAILURE;
      return;
    case cells::ImportStage::kRead:
      if (r.read.status == 1)
        PostText(4, "error (line:%lld) invalid coordinates >%s", static_cast<long long>(r.read.line),
                 r.read.text.c_str());
      else if (r.read.status == 2)
        PostText(4, "error (line:%lld) mark sequence error %d", static_cast<long long>(r.read.line),
                 r.read.mark_error);
      else
        PostText(4, "out of workspace for input data (line:%lld)", static_cast<long long>(r.read.line));
      g.error_level = EL_NOT_APPLICABLE;
      return;
    case cells::ImportStage::kCreate:
      if (r.create_status == 1 || r.create_status == 5)
        PostText(4, "file open error: %s", object.c_str());
      else if (r.create_status == 4)
        PostText(4, "%s: no space left on the file system", object.c_str());
      else
        PostText(4, "%s memory mapping error: %d", object.c_str(), r.create_status);
      g.error_level = EL_FAILURE;
      return;
    case cells::ImportStage::kBuild:
      PostText(4, "%s return code = %d", name, r.build_status);
      g.error_level = EL_FAILURE;
      return;
    case cells::ImportStage::kWrite:
      if (r.write_status == 4)
        PostText(4, "%s: no space left on the file system", object.c_str());
      else
        PostText(4, "file open error: %s", object.c_str());
      g.error_level = EL_FAILURE;
      return;
    case cells::ImportStage::kDone:
      break;
  }
  if (r.build_status < 0) {
    PostText(3, "%s empty object", name);
    g.error_level = EL_EMPTY;
  }
}

// ---------------------------------------------------------------- Export

void CmdExportObject(GlobalBlock& g, const char* args, int, int) {
  if (IsUsageRequest(args)) {
    PostText(2, "objectName [coordFileName [formatLat formatLng]]");
    return;
  }
  char name[WORD_SIZE], file[WORD_SIZE], lat[WORD_SIZE], lon[WORD_SIZE];
  const char* rest = Word(g, args, name);
  rest = Word(g, rest, file);
  rest = NextWord(rest, lat, WORD_SIZE);
  NextWord(rest, lon, WORD_SIZE);
  if (!name[0]) {
    PostText(4, "No object name given");
    g.error_level = EL_FAILURE;
    return;
  }
  if (!NeedIndex(g)) return;
  const std::string object = DataFile(g, name, ".qbo");
  const int kind = cells::ReadObjectKind(object);
  if (kind < 0) {
    PostText(4, "Unable to open (%s) for reading", object.c_str());
    g.error_level = EL_FAILURE;
    return;
  }
  cells::ObjectHandle h;
  if (int status = cells::OpenObjectRead(h, object, g.cell_index->index_id, g.cell_index->cell_count)) {
    ReportOpenStatus(g, status);
    return;
  }
  const int own_kind = h.obj.kind == cells::kTinPset ? 0 : h.obj.kind;
  const std::string out = DataFile(g, file[0] ? file : name, cells::CoordTextExtension(own_kind));
  cells::CoordFileType type = cells::CoordFileTypeOf(out);
  if (type.form == cells::CoordForm::kBinary) {
    PostText(4, "Binary CDC input: to be implemented");
    g.error_level = EL_FAILURE;
    return;
  }
  cells::CoordWriteOptions options;
  options.kind = type.kind < 0 ? own_kind : type.kind;
  options.form = type.kind < 0 ? cells::CoordForm::kText : type.form;
  options.ellipsoid = CurrentEllipsoid(g);
  if (options.kind > own_kind) {
    PostText(4, "object(%d), Invalid output object type %s", h.obj.kind, out.c_str());
    g.error_level = EL_NOT_APPLICABLE;
    return;
  }
  if (lat[0] || lon[0]) {
    // Both codes are checked before the output file is made, so a bad code
    // leaves no empty file behind.
    bool ok = true;
    if (!geodesy::IsValidAngleCode(lat)) {
      PostText(4, "Bad latitude format (%s)", lat);
      ok = false;
    }
    if (!geodesy::IsValidAngleCode(lon)) {
      PostText(4, "Bad longitude format (%s)", lon);
      ok = false;
    }
    if (!ok) {
      g.error_level = EL_FAILURE;
      return;
    }
    options.lat_code = lat;
    options.lon_code = lon;
  } else {
    geodesy::AngleCodes codes = geodesy::DefaultAngleCodes(g.settings.angle_sexagesimal);
    options.lat_code = codes.latitude;
    options.lon_code = codes.longitude;
  }
  platform::SafeOutput safe;
  int opened = platform::SafeCheckTarget(out.c_str(), {object.c_str()});
  if (opened == platform::kSafeOk) opened = platform::SafeOpen(safe, out.c_str());
  std::FILE* f = opened == platform::kSafeOk ? platform::SafeStream(safe) : nullptr;
  if (!f) {
    PostText(4, "Output file %s open failed", out.c_str());
    g.error_level = EL_FAILURE;
    return;
  }
  int status = cells::WriteCoordText(f, *g.cell_index, h.obj, options);
  if (status == 0 && platform::SafeCommit(safe) != platform::kSafeOk) status = 1;
  if (status == 2) {
    PostText(4, "out of workspace for output coordinates");
    g.error_level = EL_NOT_APPLICABLE;
  } else if (status != 0) {
    PostText(4, "Coordinate file write error");
    g.error_level = EL_FAILURE;
  }
}

}  // namespace interp

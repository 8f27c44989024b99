// Coordinate text files: reading them into point lists and writing objects
// back out.
//
// Extensions: ".pts", ".lns", ".rgn" latitude/longitude text of points,
// lines and regions; ".ptc", ".lnc", ".rgc" the same as CDC integer pairs;
// ".ptz", ".lnz", ".rgz" binary CDC, which is not available. Any other
// extension is latitude/longitude text of the object's own kind.
//
// Lines: fields separated by blanks or tabs. First field starting with ';'
// is a comment, with '*' a mark (its second field the identifier of the line
// or ring it ends, 0 when absent or not a number; ignored in point files).
// Otherwise a vertex: latitude and longitude (angle texts, geodetic on the
// given ellipsoid) or the two signed 32-bit CDC words of the surface normal,
// then the attribute when the resolution code carries one.
//
// The reader produces PointNode lists for the builders: marks are nodes with
// x = NOVALUE and the identifier as attribute; a line or region list ends
// with two marks in a row. In region input a vertex equal to the first
// vertex of its ring is dropped (rings close implicitly).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "lib/cells/object_builder.h"
#include "lib/cells/object_file.h"
#include "lib/geodesy/ellipsoid.h"

namespace cells {

enum class CoordForm { kText = 0, kCdc = 1, kBinary = 2 };

struct CoordFileType {
  int kind = -1;  // 0 points, 1 lines, 2 regions; -1 when the extension names none
  CoordForm form = CoordForm::kText;
};

// The kind and form a file name's extension stands for (case as given).
CoordFileType CoordFileTypeOf(const std::string& path);
// The text extension of a kind: ".pts", ".lns", ".rgn".
const char* CoordTextExtension(int kind);

// Resolution code of an indicator ("l", "m", "md", "h", "hd", "he", "f",
// "fd", "fe", "d", "dd", "de"; only the first two characters count), 0 for
// anything else.
int ResolutionCode(const char* indicator);

// Why a read stopped.
struct CoordReadResult {
  int status = 0;          // 0 done, 1 invalid coordinates, 2 mark sequence error, 3 no memory
  std::int64_t line = 0;   // line number of the failure, or lines read when done
  int mark_error = 0;      // 1 mark before any vertex, 3 third mark in a row, 5 vertex after two
  std::string text;        // the failing line, without its newline
  std::int64_t vertices = 0;
};

struct CoordReadOptions {
  int kind = 0;                       // 0 points, 1 lines, 2 regions
  CoordForm form = CoordForm::kText;  // kText or kCdc
  int res = 6;                        // decides whether the third field is read
  bool datum_float = false;           // attribute read as a decimal, stored as float bits
  geodesy::Ellipsoid ellipsoid = geodesy::MakeEllipsoid();
  // Called every 100 000 lines with the number of lines read so far.
  void (*progress)(void* context, std::int64_t lines) = nullptr;
  void* progress_context = nullptr;
};

CoordReadResult ReadCoordText(std::FILE* in, const CoordReadOptions& options,
                              std::vector<PointNode>& out);
// The same over text in memory (used by the fuzzer and the tests).
CoordReadResult ReadCoordTextBuffer(const char* data, std::size_t size,
                                    const CoordReadOptions& options, std::vector<PointNode>& out);

// Restores an object's vertices in order: points cell by cell; lines and
// rings item by item, each item followed by a mark with its identifier and
// after the last item one more mark with the object's id. False when memory
// runs out.
bool CollectVertices(CellIndex& idx, const Object& obj, std::vector<PointNode>& out);

struct CoordWriteOptions {
  int kind = 0;                       // output kind: 0 points, 1 lines, 2 regions
  CoordForm form = CoordForm::kText;
  std::string lat_code = "nsd6 ";    // angle format codes for text output
  std::string lon_code = "ewd6";
  geodesy::Ellipsoid ellipsoid = geodesy::MakeEllipsoid();
};

// Writes an object as coordinate text. 0 done, 1 write error, 2 no memory,
// 3 the output kind exceeds the object's kind.
int WriteCoordText(std::FILE* out, CellIndex& idx, const Object& obj,
                   const CoordWriteOptions& options);

// ---- whole import and export ----

// What an import did. stage tells where it stopped:
//   kOpenText   the text file cannot be opened
//   kRead       the text was refused (read tells why, with the line)
//   kCreate     the object file cannot be created (create_status 1) or
//               mapped (2, 3)
//   kBuild      the builder failed (build_status > 0); no file was left
//   kWrite      the object file could not be put in place
//   kDone       the object file exists; build_status -1 means it is empty
enum class ImportStage { kOpenText, kRead, kCreate, kBuild, kWrite, kDone };
struct ImportResult {
  ImportStage stage = ImportStage::kOpenText;
  CoordReadResult read;
  int create_status = 0;
  int build_status = 0;
  int write_status = 0;  // CloseObject's status at kWrite (4: file system full)
  std::int64_t vertices = 0;
};

// Reads text_path (read options: kind, form, res, datum, ellipsoid, progress)
// and builds the object at object_path in a new object file with room for
// mapping_size bytes of sections. The object replaces an older file of that
// name only when it was built (or is empty); a failure leaves no file.
ImportResult ImportCoordFile(CellIndex& idx, const std::string& text_path,
                             const std::string& object_path, const CoordReadOptions& options,
                             std::uint32_t id, std::int64_t mapping_size);

}  // namespace cells

// Object files: one object per file, "<name>.qbo", mapped and used in place.
//
// Layout (little-endian): a 256-byte header area, then the environment,
// structure and coordinate sections, each a multiple of 8 bytes, contiguous.
//   0 release (u16, 300..360)   2 kind (u16)    4 id      8 class
//  12 vix_id                   16 res (u16)    18 prec (u16)
//  20/24 environment offset/size  28/32 structure  36/40 coordinates
//  44 zero   48 kind-specific fields (6 x i32, offsets as magnitudes)
//  72..255 zero. File length = 256 + the three section sizes.
//
// Opening checks, in order: 1 cannot open, 2 shorter than 80 bytes or not
// mappable (and, on this system, any section, offset or count outside the
// file), 3 view failed, 4 bad kind (a TIN Pset cannot be opened for update),
// 5 release stamp outside 300..360, 6 vix_id differs from the index given.
// A refused file leaves the handle closed.
//
// A new object is built in a temporary file beside the target; CloseObject
// writes the header, cuts the file to its length and renames it over the
// target. AbandonObject drops it, leaving any old file of that name as it was.
#pragma once

#include <cstdint>
#include <string>

#include "lib/cells/object_model.h"
#include "platform/mapped_file.h"
#include "platform/workspace.h"

namespace cells {

struct ObjectHandle {
  Object obj;                    // header copy and section addresses
  std::uint8_t* base = nullptr;  // the mapping base
  std::uint8_t* data_base = nullptr;  // 256 bytes in, for a file being built
  platform::Workspace arena;     // the output arena of a file being built
  platform::MappedFile map;      // an opened file
  platform::PendingFile pending; // a file being built
  bool is_open = false;
};

// Object name rule on the bare name (directory and extension may be
// present: the name runs from after the last '/' or '\' to the first '.'):
// 0 valid, 1 empty, 2 longer than max_len - 1 characters, 3 first character
// not a letter, 4 another character not a letter, digit or '_'.
int CheckObjectName(const std::string& path, int max_len = 32);

// Checks that a new object can be written at path: 0 yes, 1 the name breaks
// the rule, 2 the file cannot be created. An existing file is never
// truncated or removed by the check.
int CheckNewObjectName(const std::string& path);

// Kind from the header, -2 when the file cannot be opened, -1 when it is
// shorter than 80 bytes.
int ReadObjectKind(const std::string& path);

// Fills obj's header fields and section addresses from a mapping of
// file_size bytes at base and checks them in the order of the opens: 2 file
// shorter than 80 bytes, 4 bad kind (for_update refuses a TIN Pset), 5 bad
// release, 6 index mismatch (index_id 0: not checked), 2 a section, offset or
// count outside the file. 0 when the object is safe to read.
int ParseObject(const std::uint8_t* base, std::int64_t file_size, Object& obj,
                std::uint32_t index_id, std::int64_t cell_limit, bool for_update);

// index_id 0 means "do not check the index". cell_limit > 0 also refuses
// cell numbers at or above it (give the index's cell count when known).
int OpenObjectRead(ObjectHandle& h, const std::string& path, std::uint32_t index_id,
                   std::int64_t cell_limit = 0);
int OpenObjectUpdate(ObjectHandle& h, const std::string& path, std::uint32_t index_id,
                     std::int64_t cell_limit = 0);

// Creates the file of a new object of the given kind with room for
// mapping_size bytes of sections (the temporary file is mapping_size + 1024
// bytes, reserved on disk before it is mapped). h.arena is set up over the
// mapping from the data base. 0 done, 1 cannot create, 2 cannot size or map,
// 3 view failed, 4 the file system is full, 5 the target is not a regular
// file.
int CreateObject(ObjectHandle& h, const std::string& path, int kind, std::int64_t mapping_size);

// For a created object: writes the header from h.obj, cuts the file to 256 +
// the three section sizes and puts it in place; 0 done, 1 failed, 4 the file
// system is full (nothing is left behind, an older file stays). For an opened object: releases the mapping; 0.
int CloseObject(ObjectHandle& h);

// A created object that failed to build: nothing is written, the old file of
// that name (if any) stays. An opened object is simply closed.
void AbandonObject(ObjectHandle& h);

// Writes the 256-byte header of obj, whose sections lie in the mapping at
// base, into base.
void WriteObjectHeader(std::uint8_t* base, const Object& obj);

// Removes an object file: 0 done, 1 no such file, 2 cannot remove (or not a
// file: a directory of that name is never removed).
int EraseObjectFile(const std::string& path);

}  // namespace cells

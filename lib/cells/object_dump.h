// The object dump text: a readable listing of an object's header, cell
// lists, structure and stored vertex values (the values as stored, not
// restored), written by DumpObject to a ".dmp" file.
#pragma once

#include <cstdio>

#include "lib/cells/object_model.h"

namespace cells {

// Writes the dump of a Pset, Lset, Rset or TIN Pset (the object must have
// passed ObjectValid). Returns 0, or 1 on a write error.
int DumpObjectText(const Object& obj, std::FILE* out);

}  // namespace cells

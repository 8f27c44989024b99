// Handlers of the cell index commands: ReadVix, ReadTix (variant 1) and
// ReadDecryptVix; and the interpreter's table of secondary indexes.
#pragma once

#include "interp/global.h"
#include "lib/cells/secondary_index.h"

namespace interp {

// ReadVix (variant 0) and ReadTix (variant 1): "[ixFileName]".
void CmdReadVix(GlobalBlock& g, const char* args, int variant, int mode);
// ReadDecryptVix: "ixFileName, passPhrase | key".
void CmdReadDecryptVix(GlobalBlock& g, const char* args, int variant, int mode);

// The secondary indexes of this run (up to 64), for commands that open
// objects or collections made with another index; released at the end.
cells::SecondaryTable& SecondaryIndexTable();
void ReleaseSecondaryIndexTable();

}  // namespace interp

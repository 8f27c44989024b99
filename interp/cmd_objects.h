// Object commands: DumpObject, EraseObject, ImportPset / ImportLset /
// ImportRset (one handler, the variant is the kind) and ExportObject.
#pragma once

#include "interp/global.h"

namespace interp {

void CmdDumpObject(GlobalBlock& g, const char* args, int variant, int mode);
void CmdEraseObject(GlobalBlock& g, const char* args, int variant, int mode);
// variant: 0 ImportPset, 1 ImportLset, 2 ImportRset.
void CmdImport(GlobalBlock& g, const char* args, int variant, int mode);
void CmdExportObject(GlobalBlock& g, const char* args, int variant, int mode);

// Posts the message for a failed object open (status 4, 5, 6, or any other
// as a mapping error) and sets error level 4: the one way the program
// reports it.
void ReportOpenStatus(GlobalBlock& g, int status);
// The same messages with the object's name in front ("%s invalid object
// type", ...), as the commands that open several objects post them.
void ReportOpenStatus(GlobalBlock& g, int status, const char* name);

}  // namespace interp

// Settings and environment commands: Set, SetEnv, Shell, Help, Version,
// ReportMemory and ReportRunEnvironment (variants 2 and 4 of the report
// handler), WriteTextFile.
#pragma once

#include "interp/global.h"

namespace interp {

void CmdSet(GlobalBlock& g, const char* args, int variant, int mode);
void CmdSetEnv(GlobalBlock& g, const char* args, int variant, int mode);
void CmdShell(GlobalBlock& g, const char* args, int variant, int mode);
void CmdHelp(GlobalBlock& g, const char* args, int variant, int mode);
void CmdVersion(GlobalBlock& g, const char* args, int variant, int mode);
// Variant 2: ReportMemory; variant 4: ReportRunEnvironment.
void CmdReport(GlobalBlock& g, const char* args, int variant, int mode);
void CmdWriteTextFile(GlobalBlock& g, const char* args, int variant, int mode);

inline constexpr int REPORT_MEMORY = 2;
inline constexpr int REPORT_RUN_ENVIRONMENT = 4;

}  // namespace interp

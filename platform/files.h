// Facts about files and the running program.
//
// Paths are plain Linux paths ("/" separated). ProgramPath is the full name of
// the running executable; ProgramDirectory ends with "/" and may be replaced
// by the OMBREL_HOME environment variable (installed layouts, tests).
#pragma once

#include <string>

namespace platform {

bool FileExists(const char* path);       // a regular file (or anything but a directory) exists
bool DirectoryExists(const char* path);
std::string ProgramPath();               // from /proc/self/exe; empty when it cannot be read
std::string ProgramDirectory();          // OMBREL_HOME (with a final "/") or ProgramPath's directory
std::string CurrentDirectory();          // without a final "/"
std::string TempDirectory();             // TMPDIR or /tmp, with a final "/"
bool StdinIsTerminal();
bool StdoutIsTerminal();

}  // namespace platform

// Argument words and file names: what every handler uses to read its command
// line and to complete the names of the files it opens.
//
// Words are separated by white space or by a single comma; a comma after
// blanks gives an empty word; single or double quotes put blanks and commas
// into one word. A line ends at NUL, line feed or carriage return.
//
// File names accept both "/" and "\" between directories (scripts written
// with backslashes keep working); built names use "/". A name may start with
// a directory alias: "temp\", "data\", "script\" or "veltrum\" (or the same
// with "/"), which stands for the configured directory.
#pragma once

#include <string>

#include "interp/global.h"

namespace interp {

// Takes the next word of source into buffer (at most size - 1 characters,
// always terminated) and returns the text after it, or nullptr when nothing
// follows. A word longer than size - 1 is cut and the rest of the line is
// dropped. A nullptr source gives an empty word and nullptr.
const char* NextWord(const char* source, char* buffer, int size);

// Splits a name into drive (before the first ":"), directory (up to the last
// separator, without it; "/" for a name whose only separator comes first),
// stem and extension (after the last "." of the last component). Any output
// may be nullptr.
void SplitFileName(const char* name, std::string* drive, std::string* directory,
                   std::string* stem, std::string* extension);

// Completes a file name: the name's own stem, else the default path's; the
// name's drive and directory if it has either, else the default path's; the
// name's extension, else the default extension (a leading "." dropped).
// Without any stem the result is ".???". The result is at most 260
// characters (result must hold FILE_NAME_SIZE bytes); returns result.
char* BuildFileName(const char* name, const char* default_path, const char* default_extension,
                    char* result);

// Rewrites a leading directory alias in place. False (name unchanged) when
// the expanded name would not fit in size bytes.
bool ExpandDirectoryAlias(const GlobalBlock& g, char* name, int size = WORD_SIZE);

}  // namespace interp

// The keyed store: the in-memory form of a "keyword = value" file (the
// initialisation file "ombrel.oin", and satellite files).
//
// The file is read whole and kept as it is. Lines end in a line feed, or in a
// carriage return and a line feed when the first line end of the file is one.
// A key line starts in the first column with a letter, "_" or "."; its keyword
// is made of letters, digits, "." and "_", followed by optional blanks, "=",
// optional blanks and the value (trailing blanks belong to the value). A key
// line that ends in a backslash continues on the next line, which starts with
// one blank that is dropped together with the backslash and the line end.
// Lines starting with ";" or "[" are comments; empty lines are allowed except
// where a continuation is due; a tab anywhere is an error.
//
// Look-up is exact and case-sensitive: a value set at run time wins, else the
// first key line in file order. Reading never goes past the stored text, even
// for a file that failed the syntax check.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace interp {

struct KeyedStore {
  std::string fileName;
  std::string text;                 // the whole file as read
  bool crlf = false;                // line ends are CR LF (from the first line end)
  std::vector<std::size_t> keyLines;  // offsets of the key lines, in file order
  // Values set at run time; they take precedence over the file.
  std::vector<std::pair<std::string, std::string>> runTime;
};

// Reads the file and indexes its key lines; nullptr when it cannot be read.
KeyedStore* OpenKeyedStore(const char* fileName);
// The same over text already in memory (the name is only remembered).
KeyedStore* OpenKeyedStoreFromText(const char* fileName, const char* data, std::size_t size);
void CloseKeyedStore(KeyedStore* store);

// 0 when the whole text is well formed; otherwise the 1-based number of the
// first bad line, with *message set to one of the fixed texts below.
int CheckKeyedStoreSyntax(const KeyedStore* store, const char** message);

inline constexpr const char* kSyntaxTab = "Tab character found.";
inline constexpr const char* kSyntaxUnrecognized = "Unrecognized line.";
inline constexpr const char* kSyntaxUnexpectedContinuation = "Unexpected continuation line.";
inline constexpr const char* kSyntaxContinuationExpected = "Continuation line expected.";
inline constexpr const char* kSyntaxKeyword = "Keyword syntax error.";
inline constexpr const char* kSyntaxMissingLineEnd = "Missing line ending.";

// Copies the key's value (continuations joined) into buffer, at most size - 1
// characters, NUL-terminated, and returns the number copied. When the key is
// absent the default (or "" for none) is copied instead and -1 returned.
int GetKeyText(const KeyedStore* store, const char* key, const char* dflt, char* buffer, int size);
// The whole value as a string; false (and out untouched) when the key is absent.
bool GetKeyString(const KeyedStore* store, const char* key, std::string& out);
// The default when absent, 0 when the value is empty, otherwise atoi of the value.
int GetKeyInteger(const KeyedStore* store, const char* key, int dflt);
// Sets (or replaces) a run-time value for the key.
void SetKeyText(KeyedStore* store, const char* key, const char* value);

}  // namespace interp

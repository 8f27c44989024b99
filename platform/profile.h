// Initialisation files read by section, key and default.
//
// A file is a sequence of lines (LF or CR LF). "[name]" starts a section;
// "key=value" inside a section sets a key; a line whose first non-blank
// character is ";" is a comment; blank lines, lines without "=" and keys
// before the first section are ignored. Section and key names are compared
// without regard to case; blanks and tabs around names and values are
// dropped. The first occurrence of a key in a section counts (a section
// named again continues the first one), and the keys of a section keep
// their file order.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace platform {

struct ProfileSection {
  std::string name;  // as first written
  std::vector<std::pair<std::string, std::string>> keys;  // first occurrences, in file order
};

struct Profile {
  std::string path;
  std::vector<ProfileSection> sections;
};

// Reads a whole file: false when it cannot be read (a directory, no such
// file, no permission).
bool LoadProfile(const std::string& path, Profile* profile);

// Reads a whole regular file into text; false when it cannot be opened, is
// not a regular file (a directory, a device) or a read fails.
bool ReadRegularFile(const std::string& path, std::string* text);
// The same over bytes in memory (any bytes: NULs end nothing, they are kept).
void ParseProfile(const char* text, size_t n, Profile* profile);

// The section of that name, or null.
const ProfileSection* FindProfileSection(const Profile& p, const std::string& section);
// The value of a key: true when the key is present (even with an empty value).
bool FindProfileValue(const Profile& p, const std::string& section, const std::string& key, std::string* value);
// The value, or dflt when the section or key is absent.
std::string ProfileString(const Profile& p, const std::string& section, const std::string& key,
                          const std::string& dflt);
// The leading decimal integer of the value (an optional sign), or dflt when
// the key is absent or the value does not begin with a number.
long ProfileInt(const Profile& p, const std::string& section, const std::string& key, long dflt);
// The leading decimal number of the value, or dflt.
double ProfileDouble(const Profile& p, const std::string& section, const std::string& key, double dflt);

}  // namespace platform

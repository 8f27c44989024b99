#include "platform/profile.h"

#include <strings.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

namespace platform {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

std::string Trim(const char* b, const char* e) {
  while (b < e && IsBlank(*b)) ++b;
  while (e > b && IsBlank(e[-1])) --e;
  return std::string(b, e);
}

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = (char)(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = (char)(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

ProfileSection* SectionNamed(Profile* p, const std::string& name) {
  for (ProfileSection& s : p->sections)
    if (SameName(s.name, name)) return &s;
  p->sections.push_back({name, {}});
  return &p->sections.back();
}

}  // namespace

void ParseProfile(const char* text, size_t n, Profile* profile) {
  profile->sections.clear();
  const char* p = text;
  const char* end = text + n;
  // A UTF-8 byte order mark before the first line is not part of it.
  if (n >= 3 && (unsigned char)p[0] == 0xEF && (unsigned char)p[1] == 0xBB && (unsigned char)p[2] == 0xBF) p += 3;
  ProfileSection* current = nullptr;
  size_t current_index = 0;
  while (p < end) {
    const char* eol = p;
    while (eol < end && *eol != '\n') ++eol;
    const char* b = p;
    const char* e = eol;
    p = eol < end ? eol + 1 : end;
    while (b < e && IsBlank(*b)) ++b;
    while (e > b && IsBlank(e[-1])) --e;
    if (b == e || *b == ';') continue;
    if (*b == '[') {
      const char* close = b + 1;
      while (close < e && *close != ']') ++close;
      if (close == e) continue;  // no closing bracket: not a section line
      const std::string name = Trim(b + 1, close);
      current = SectionNamed(profile, name);
      current_index = (size_t)(current - profile->sections.data());
      continue;
    }
    if (!current) continue;
    current = &profile->sections[current_index];  // the vector may have grown
    const char* eq = b;
    while (eq < e && *eq != '=') ++eq;
    if (eq == e) continue;
    const std::string key = Trim(b, eq);
    if (key.empty()) continue;
    bool seen = false;
    for (const auto& kv : current->keys)
      if (SameName(kv.first, key)) {
        seen = true;
        break;
      }
    if (!seen) current->keys.emplace_back(key, Trim(eq + 1, e));
  }
}

bool ReadRegularFile(const std::string& path, std::string* text) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  struct stat st;
  if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) {
    std::fclose(f);
    return false;
  }
  text->clear();
  char buf[1 << 14];
  size_t got;
  while ((got = std::fread(buf, 1, sizeof buf, f)) > 0) text->append(buf, got);
  const bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

bool LoadProfile(const std::string& path, Profile* profile) {
  profile->path = path;
  profile->sections.clear();
  std::string text;
  if (!ReadRegularFile(path, &text)) return false;
  ParseProfile(text.data(), text.size(), profile);
  return true;
}

const ProfileSection* FindProfileSection(const Profile& p, const std::string& section) {
  for (const ProfileSection& s : p.sections)
    if (SameName(s.name, section)) return &s;
  return nullptr;
}

bool FindProfileValue(const Profile& p, const std::string& section, const std::string& key, std::string* value) {
  const ProfileSection* s = FindProfileSection(p, section);
  if (!s) return false;
  for (const auto& kv : s->keys)
    if (SameName(kv.first, key)) {
      if (value) *value = kv.second;
      return true;
    }
  return false;
}

std::string ProfileString(const Profile& p, const std::string& section, const std::string& key,
                          const std::string& dflt) {
  std::string v;
  return FindProfileValue(p, section, key, &v) ? v : dflt;
}

long ProfileInt(const Profile& p, const std::string& section, const std::string& key, long dflt) {
  std::string v;
  if (!FindProfileValue(p, section, key, &v)) return dflt;
  char* end = nullptr;
  errno = 0;
  const long n = std::strtol(v.c_str(), &end, 10);
  if (end == v.c_str()) return dflt;
  if (errno == ERANGE) return n < 0 ? LONG_MIN : LONG_MAX;
  return n;
}

double ProfileDouble(const Profile& p, const std::string& section, const std::string& key, double dflt) {
  std::string v;
  if (!FindProfileValue(p, section, key, &v)) return dflt;
  char* end = nullptr;
  const double d = std::strtod(v.c_str(), &end);
  return end == v.c_str() ? dflt : d;
}

}  // namespace platform

// The word reader walks the text once, copying into the caller's buffer; it
// never writes past size bytes and never reads past the line's end (NUL, line
// feed or carriage return). The file-name builder splits both names into four
// parts and assembles the result piece by piece within 260 characters.
#include "interp/words.h"

#include <cstring>

namespace interp {

static bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }
static bool IsLineEnd(char c) { return c == '\0' || c == '\n' || c == '\r'; }
static bool IsSeparator(char c) { return c == '/' || c == '\\'; }

static const char* RestOrNone(const char* p) {
  while (IsBlank(*p)) ++p;
  return IsLineEnd(*p) ? nullptr : p;
}

const char* NextWord(const char* source, char* buffer, int size) {
  if (buffer && size >= 1) buffer[0] = '\0';
  if (!source) return nullptr;
  const char* p = source;
  while (IsBlank(*p)) ++p;
  char quote = 0;
  if (*p == '\'' || *p == '"') quote = *p++;
  if (size < 1 || !buffer) return nullptr;
  int n = 0;
  for (;;) {
    const char c = *p;
    if (IsLineEnd(c)) {
      buffer[n] = '\0';
      return nullptr;
    }
    if (quote) {
      if (c == quote) {
        buffer[n] = '\0';
        ++p;
        if (*p == ',') ++p;
        return RestOrNone(p);
      }
    } else if (IsBlank(c) || c == ',') {
      buffer[n] = '\0';
      return RestOrNone(p + 1);
    }
    if (n == size - 1) {  // the word is longer than the buffer: cut it, drop the line's rest
      buffer[n] = '\0';
      return nullptr;
    }
    buffer[n++] = c;
    ++p;
  }
}

void SplitFileName(const char* name, std::string* drive, std::string* directory,
                   std::string* stem, std::string* extension) {
  std::string d, dir, s, e;
  if (name) {
    const char* rest = name;
    if (const char* colon = strchr(name, ':')) {
      d.assign(name, colon);
      rest = colon + 1;
    }
    const char* last_sep = nullptr;
    for (const char* p = rest; *p; ++p)
      if (IsSeparator(*p)) last_sep = p;
    const char* component = rest;
    if (last_sep) {
      dir.assign(rest, last_sep);
      if (dir.empty()) dir.assign(1, *last_sep);  // the root
      component = last_sep + 1;
    }
    if (const char* dot = strrchr(component, '.')) {
      s.assign(component, dot);
      e.assign(dot + 1);
    } else {
      s.assign(component);
    }
  }
  if (drive) *drive = d;
  if (directory) *directory = dir;
  if (stem) *stem = s;
  if (extension) *extension = e;
}

// A missing or empty text, or one that begins with white space, has no parts.
static bool HasParts(const char* text) {
  return text && *text && !IsBlank(*text) && *text != '\n' && *text != '\r';
}

char* BuildFileName(const char* name, const char* default_path, const char* default_extension,
                    char* result) {
  std::string nd, ndir, ns, ne, pd, pdir, ps;
  if (HasParts(name)) SplitFileName(name, &nd, &ndir, &ns, &ne);
  if (HasParts(default_path)) SplitFileName(default_path, &pd, &pdir, &ps, nullptr);

  const std::string& stem = !ns.empty() ? ns : ps;
  if (stem.empty()) {
    strcpy(result, ".???");
    return result;
  }
  const bool own_place = !nd.empty() || !ndir.empty();
  const std::string& drive = own_place ? nd : pd;
  std::string dir = own_place ? ndir : pdir;
  for (char& c : dir)
    if (c == '\\') c = '/';
  std::string ext = ne;
  if (ext.empty() && default_extension && *default_extension)
    ext = default_extension[0] == '.' ? default_extension + 1 : default_extension;

  std::string pieces[4];
  if (!drive.empty()) pieces[0] = drive + ":";
  if (!dir.empty()) pieces[1] = dir.back() == '/' ? dir : dir + "/";
  pieces[2] = stem;
  if (!ext.empty()) pieces[3] = "." + ext;

  size_t len = 0;
  result[0] = '\0';
  for (const std::string& piece : pieces) {
    if (len + piece.size() > static_cast<size_t>(FILE_NAME_CHARS)) break;
    memcpy(result + len, piece.data(), piece.size());
    len += piece.size();
    result[len] = '\0';
  }
  return result;
}

bool ExpandDirectoryAlias(const GlobalBlock& g, char* name, int size) {
  if (!name) return false;
  struct Alias {
    const char* word;
    const std::string* directory;
  };
  const Alias aliases[] = {{"temp", &g.dirs.temp}, {"data", &g.dirs.data},
                           {"script", &g.dirs.script}, {"veltrum", &g.dirs.veltrum}};
  for (const Alias& a : aliases) {
    const size_t n = strlen(a.word);
    if (strncmp(name, a.word, n) != 0 || !IsSeparator(name[n])) continue;
    std::string expanded = *a.directory;
    if (!expanded.empty() && !IsSeparator(expanded.back())) expanded.push_back('/');
    expanded += name + n + 1;
    if (expanded.size() + 1 > static_cast<size_t>(size)) return false;
    memcpy(name, expanded.c_str(), expanded.size() + 1);
    return true;
  }
  return true;
}

}  // namespace interp

// The keyed store reads the file whole and keeps only offsets into it: one per
// key line, found by a single scan at open time. A value is cut out of the
// text when it is asked for, joining continuation lines on the way, so the
// store costs one copy of the file and nothing per key.
//
// Every scan walks line by line with explicit bounds (a missing final line end
// or a continuation at the end of the text is handled like any other line),
// so a store over arbitrary bytes can be checked and queried safely.
#include "interp/keyed_store.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace interp {
namespace {

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool StartsKeyLine(char c) { return IsLetter(c) || c == '_' || c == '.'; }
bool IsKeywordChar(char c) { return IsLetter(c) || IsDigit(c) || c == '_' || c == '.'; }

// One line of the text: [begin, contentEnd) is its content without the line
// end; next is where the following line starts (text size at the end).
struct Line {
  std::size_t begin = 0;
  std::size_t contentEnd = 0;
  std::size_t next = 0;
  bool hasEnd = false;
};

Line LineAt(const KeyedStore& s, std::size_t pos) {
  Line l;
  l.begin = pos;
  const std::size_t nl = s.text.find('\n', pos);
  l.hasEnd = nl != std::string::npos;
  const std::size_t end = l.hasEnd ? nl : s.text.size();
  l.contentEnd = end;
  if (l.hasEnd && s.crlf && end > pos && s.text[end - 1] == '\r') l.contentEnd = end - 1;
  l.next = l.hasEnd ? nl + 1 : s.text.size();
  return l;
}

void IndexKeyLines(KeyedStore& s) {
  const std::size_t firstNl = s.text.find('\n');
  s.crlf = firstNl != std::string::npos && firstNl > 0 && s.text[firstNl - 1] == '\r';
  std::size_t pos = 0;
  while (pos < s.text.size()) {
    const Line l = LineAt(s, pos);
    if (l.begin < l.contentEnd && StartsKeyLine(s.text[l.begin])) s.keyLines.push_back(l.begin);
    pos = l.next;
  }
}

// For a key line at pos: the end of its keyword and the start of its value;
// false when the line has no "=" after the keyword and blanks.
bool SplitKeyLine(const KeyedStore& s, const Line& l, std::size_t& keyEnd, std::size_t& valueBegin) {
  std::size_t p = l.begin;
  while (p < l.contentEnd && IsKeywordChar(s.text[p])) ++p;
  keyEnd = p;
  while (p < l.contentEnd && s.text[p] == ' ') ++p;
  if (p >= l.contentEnd || s.text[p] != '=') return false;
  ++p;
  while (p < l.contentEnd && s.text[p] == ' ') ++p;
  valueBegin = p;
  return true;
}

// The value of the key line at pos, continuations joined.
std::string ValueAt(const KeyedStore& s, std::size_t pos) {
  Line l = LineAt(s, pos);
  std::size_t keyEnd = 0, p = 0;
  if (!SplitKeyLine(s, l, keyEnd, p)) return {};
  std::string value;
  for (;;) {
    const bool continues = l.contentEnd > p && s.text[l.contentEnd - 1] == '\\' && l.hasEnd &&
                           l.next < s.text.size() && s.text[l.next] == ' ';
    if (!continues) {
      value.append(s.text, p, l.contentEnd - p);
      return value;
    }
    value.append(s.text, p, l.contentEnd - 1 - p);
    l = LineAt(s, l.next);
    p = l.begin + 1;  // the one blank that opens a continuation line
  }
}

// Offset of the key line for key, or npos.
std::size_t FindKeyLine(const KeyedStore& s, const char* key) {
  const std::size_t len = std::strlen(key);
  for (const std::size_t pos : s.keyLines) {
    const Line l = LineAt(s, pos);
    std::size_t keyEnd = 0, valueBegin = 0;
    if (!SplitKeyLine(s, l, keyEnd, valueBegin)) continue;
    if (keyEnd - pos == len && s.text.compare(pos, len, key) == 0) return pos;
  }
  return std::string::npos;
}

const std::string* FindRunTime(const KeyedStore& s, const char* key) {
  for (const auto& kv : s.runTime)
    if (kv.first == key) return &kv.second;
  return nullptr;
}

}  // namespace

KeyedStore* OpenKeyedStoreFromText(const char* fileName, const char* data, std::size_t size) {
  auto* s = new KeyedStore;
  s->fileName = fileName ? fileName : "";
  s->text.assign(data, size);
  IndexKeyLines(*s);
  return s;
}

KeyedStore* OpenKeyedStore(const char* fileName) {
  if (!fileName) return nullptr;
  std::FILE* f = std::fopen(fileName, "rb");
  if (!f) return nullptr;
  std::string text;
  char chunk[65536];
  std::size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) text.append(chunk, got);
  const bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed) return nullptr;
  return OpenKeyedStoreFromText(fileName, text.data(), text.size());
}

void CloseKeyedStore(KeyedStore* store) { delete store; }

int CheckKeyedStoreSyntax(const KeyedStore* store, const char** message) {
  const char* unused = nullptr;
  if (!message) message = &unused;
  *message = nullptr;
  if (!store) return 0;
  const KeyedStore& s = *store;
  std::size_t pos = 0;
  int line = 1;
  bool continuationDue = false;
  while (pos < s.text.size()) {
    const Line l = LineAt(s, pos);
    const std::size_t rawEnd = l.hasEnd ? l.next - 1 : l.next;
    if (std::memchr(s.text.data() + l.begin, '\t', rawEnd - l.begin)) {
      *message = kSyntaxTab;
      return line;
    }
    const bool empty = l.begin == l.contentEnd;
    const char c = empty ? '\0' : s.text[l.begin];
    const bool endsInBackslash = !empty && s.text[l.contentEnd - 1] == '\\';
    if (continuationDue) {
      if (c != ' ') {
        *message = kSyntaxContinuationExpected;
        return line;
      }
      continuationDue = endsInBackslash;
    } else if (empty || c == ';' || c == '[') {
      // comment or empty line
    } else if (c == ' ') {
      *message = kSyntaxUnexpectedContinuation;
      return line;
    } else if (StartsKeyLine(c)) {
      std::size_t keyEnd = 0, valueBegin = 0;
      if (!SplitKeyLine(s, l, keyEnd, valueBegin)) {
        *message = kSyntaxKeyword;
        return line;
      }
      continuationDue = endsInBackslash;
    } else {
      *message = kSyntaxUnrecognized;
      return line;
    }
    if (!l.hasEnd) {
      *message = kSyntaxMissingLineEnd;
      return line;
    }
    pos = l.next;
    ++line;
  }
  if (continuationDue) {
    // The text ends where a continuation line was promised.
    *message = kSyntaxContinuationExpected;
    return line;
  }
  return 0;
}

bool GetKeyString(const KeyedStore* store, const char* key, std::string& out) {
  if (!store || !key) return false;
  if (const std::string* v = FindRunTime(*store, key)) {
    out = *v;
    return true;
  }
  const std::size_t pos = FindKeyLine(*store, key);
  if (pos == std::string::npos) return false;
  out = ValueAt(*store, pos);
  return true;
}

int GetKeyText(const KeyedStore* store, const char* key, const char* dflt, char* buffer, int size) {
  std::string value;
  const bool found = GetKeyString(store, key, value);
  if (!found) value = dflt ? dflt : "";
  if (buffer && size > 0) {
    const std::size_t n = value.size() < static_cast<std::size_t>(size - 1) ? value.size()
                                                                            : static_cast<std::size_t>(size - 1);
    std::memcpy(buffer, value.data(), n);
    buffer[n] = '\0';
    if (found) return static_cast<int>(n);
  }
  return found ? 0 : -1;
}

int GetKeyInteger(const KeyedStore* store, const char* key, int dflt) {
  std::string value;
  if (!GetKeyString(store, key, value)) return dflt;
  if (value.empty()) return 0;
  return std::atoi(value.c_str());
}

void SetKeyText(KeyedStore* store, const char* key, const char* value) {
  if (!store || !key) return;
  for (auto& kv : store->runTime)
    if (kv.first == key) {
      kv.second = value ? value : "";
      return;
    }
  store->runTime.emplace_back(key, value ? value : "");
}

}  // namespace interp

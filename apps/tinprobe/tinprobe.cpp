// tinprobe [options] infile outfile [options]: runs the planar hull and the
// TIN construction on a text file of planar points, prints their trace and
// statistics, draws every step in the lumenlog window, and writes the
// triangles.
//
// The input: a first line "iH nH" (the first given hull point and the number
// of given hull points, 0 for a computed hull), then one point "x y z" a
// line; empty lines and lines beginning with ';' are skipped. Lines may be of
// any length; a line that is not three numbers is an error, never a point.
//
// The output (outfile, or the input name with ".tin"): one line "%4d %4d"
// per triangle number d, the d-th entries of the vertex and of the neighbour
// array; with -f one line per triangle, its three vertices counterclockwise
// and the neighbour across the edge from each vertex to the next (-1 on the
// hull). It is written beside its name and put in place whole; it is never
// the input file.
//
// Drawing: the points as plus markers in black; the hull's edges in red, 1
// ms after each; the fan's triangles in blue, 5 ms after each; each inserted
// point as a ring in green, 10 ms after it; each changed triangle in grey
// with its number at its centroid, 5 ms after it. -p=N scales the pauses
// (percent; 0 none). When the window goes away during the run, drawing stops
// and the rest of the run goes on.
#include <cerrno>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <vector>

#include "lib/ops/q2mtin.h"
#include "platform/clock.h"
#include "platform/safe_output.h"
#include "platform/window_channel.h"

namespace {

std::string g_program = "tinprobe";

// The program's own name without directory and extension.
std::string ProgramName(const char* argv0) {
  std::string s = argv0 ? argv0 : "tinprobe";
  const size_t slash = s.find_last_of("/\\");
  if (slash != std::string::npos) s = s.substr(slash + 1);
  const size_t dot = s.find('.');
  if (dot != std::string::npos && dot > 0) s = s.substr(0, dot);
  return s;
}

int Usage() {
  const char* p = g_program.c_str();
  printf("Usage:   %s [options] infile outfile [options]\n", p);
  printf("Where:   infile = name of input (.ptp) file\n");
  printf("         outfile = name of output (.tin) file\n");
  printf("Options: (-oxxx or -o=xxx)\n");
  printf(" -h      to print this usage help\n");
  printf(" -f      to write each triangle's vertices and neighbours\n");
  printf(" -p=N    to scale the drawing pauses (percent, default 100, 0 none)\n");
  return 1;
}

[[noreturn]] void Fatal(int line, const char* format, ...) __attribute__((format(printf, 2, 3)));
void Fatal(int line, const char* format, ...) {
  printf("Error %s(%d): ", g_program.c_str(), line);
  va_list ap;
  va_start(ap, format);
  vprintf(format, ap);
  va_end(ap);
  fflush(stdout);
  exit(1);
}
#define FATAL(...) Fatal(__LINE__, __VA_ARGS__)

// A violated invariant (the input file changed between the two passes).
[[noreturn]] void Assertion(int line, const char* condition) {
  printf("%s (%d) assertion (%s) failed\n", g_program.c_str(), line, condition);
  fflush(stdout);
  exit(1);
}
#define ASSERTION(condition) Assertion(__LINE__, condition)

// One whole line of any length, without its newline; false at the end of
// the file. The stream is read a block at a time (a character at a time
// cost more than the rest of the first pass).
struct LineReader {
  FILE* f = nullptr;
  char block[1 << 16];
  size_t at = 0, size = 0;
  bool Fill() {
    at = 0;
    size = fread(block, 1, sizeof block, f);
    return size > 0;
  }
  bool Read(std::string& line) {
    line.clear();
    bool any = false;
    for (;;) {
      if (at == size && !Fill()) return any;
      any = true;
      const char* start = block + at;
      const void* nl = memchr(start, '\n', size - at);
      if (nl) {
        const size_t length = static_cast<const char*>(nl) - start;
        line.append(start, length);
        at += length + 1;
        return true;
      }
      line.append(start, size - at);
      at = size;
    }
  }
  void Rewind() {
    rewind(f);
    at = size = 0;
  }
};

bool Skipped(const std::string& line) {
  size_t i = line.find_first_not_of(" \t\r");
  return i == std::string::npos || line[i] == ';';
}

// Three numbers, read as 32-bit floats, and nothing else but blanks.
bool ParsePointByStrtof(const std::string& line, float v[3]) {
  const char* p = line.c_str();
  for (int k = 0; k < 3; ++k) {
    char* end = nullptr;
    errno = 0;
    v[k] = std::strtof(p, &end);
    if (end == p || errno == ERANGE || !std::isfinite(v[k])) return false;
    p = end;
  }
  while (*p == ' ' || *p == '\t' || *p == '\r') ++p;
  return p == line.c_str() + line.size();  // a NUL byte is not the line's end
}

// The same, quicker for the plain decimal numbers of most files: each
// number after blanks, read by from_chars (correctly rounded, as strtof);
// anything it does not take as strtof would (a sign '+', hexadecimal, a
// number out of range, another separator) is read again by strtof.
bool ParsePoint(const std::string& line, float v[3]) {
  const char* p = line.data();
  const char* const end = p + line.size();
  for (int k = 0; k < 3; ++k) {
    while (p < end && (*p == ' ' || *p == '\t')) ++p;
    const std::from_chars_result r = std::from_chars(p, end, v[k]);
    if (r.ec != std::errc() || r.ptr == p || (r.ptr < end && *r.ptr != ' ' && *r.ptr != '\t' && *r.ptr != '\r'))
      return ParsePointByStrtof(line, v);
    if (!std::isfinite(v[k])) return false;
    if (!(std::fabs(v[k]) >= FLT_MIN)) {
      // strtof calls a result below the normal range (a written zero aside)
      // out of range: let it decide.
      const char* d = p;
      while (d < r.ptr && *d != 'e' && *d != 'E' && (*d < '1' || *d > '9')) ++d;
      if (d < r.ptr && *d != 'e' && *d != 'E') return ParsePointByStrtof(line, v);
    }
    p = r.ptr;
  }
  while (p < end && (*p == ' ' || *p == '\t' || *p == '\r')) ++p;
  return p == end;
}

long Round8(long n) { return (n + 7) / 8 * 8; }

// ---- drawing in the trace window

const std::uint32_t kColours[20] = {0x000000, 0x000080, 0x008000, 0x008080, 0x800000, 0x800080, 0x808000,
                                    0xC0C0C0, 0xC0DCC0, 0xF0CAA6, 0xF0FBFF, 0xA4A0A0, 0x808080, 0x0000FF,
                                    0x00FF00, 0x00FFFF, 0xFF0000, 0xFF00FF, 0xFFFF00, 0xFFFFFF};

struct Drawing {
  platform::WindowClient client;
  double s = 1, cx = 0, cy = 0, mx = 0, my = 0;  // the pixel mapping
  int pause_percent = 100;
  // What the window already has, so that no request repeats it: the colour
  // of the next item and the pen's position (a line moves it to its end).
  int colour = -1;
  std::int64_t at = -1;

  // Rounded to the nearest, halves away from zero (as lround, without the
  // library call: the mapping runs for every point of every drawing step).
  static long Round(double v) {
    long t = static_cast<long>(v);
    const double f = v - static_cast<double>(t);
    if (f >= 0.5) ++t;
    else if (f <= -0.5) --t;
    return t;
  }
  // cx - mx / s and cy + my / s, made once: the mapping adds x / s to the
  // first and takes y / s from the second, the same sums in the same order.
  double ox = 0, oy = 0;
  void SetMapping(double scale, double centre_x, double centre_y, double mid_x, double mid_y) {
    s = scale, cx = centre_x, cy = centre_y, mx = mid_x, my = mid_y;
    ox = cx - mx / s;
    oy = cy + my / s;
  }
  std::int64_t Pixel(double x, double y) const {
    const long px = Round(ox + x / s), py = Round(oy - y / s);
    return static_cast<std::int64_t>((static_cast<std::uint32_t>(static_cast<std::uint16_t>(py)) << 16) |
                                     static_cast<std::uint16_t>(px));
  }
  // Requests wait in a batch and go out together, several drawing steps to
  // a datagram: before each pause (so every step shows before the wait), when
  // the batch is full, and at the end.
  static constexpr std::size_t kBatchBytes = 32768;
  char batch[kBatchBytes];
  std::size_t batch_size = 0;

  static void PutLe(char* out, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out[i] = static_cast<char>((v >> (8 * i)) & 0xff);
  }
  void Post(std::uint32_t number, std::int64_t first, std::int64_t second, const char* text = "", std::size_t length = 0) {
    if (client.dead) return;  // the window went away: no more drawing
    if (length > 255) length = 255;
    if (batch_size + platform::kWindowRequestHeader + length > kBatchBytes) Flush();
    // The request's bytes as EncodeWindowRequest lays them out:
    // little-endian u32 number, u32 text length, i64, i64, the text.
    char* out = batch + batch_size;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    const std::uint32_t head[2] = {number, static_cast<std::uint32_t>(length)};
    std::memcpy(out, head, 8);
    std::memcpy(out + 8, &first, 8);
    std::memcpy(out + 16, &second, 8);
#else
    PutLe(out, number, 4);
    PutLe(out + 4, length, 4);
    PutLe(out + 8, static_cast<std::uint64_t>(first), 8);
    PutLe(out + 16, static_cast<std::uint64_t>(second), 8);
#endif
    std::memcpy(out + platform::kWindowRequestHeader, text, length);
    batch_size += platform::kWindowRequestHeader + length;
  }
  // Sends the batch, waiting a second at most while the window's queue is
  // full; a window that is gone or does not take it stops the drawing.
  void Flush() {
    if (batch_size == 0 || client.dead || client.fd < 0) {
      batch_size = 0;
      return;
    }
    for (int waited = 0; waited <= 1000; waited += 50) {
      const ssize_t n = send(client.fd, batch, batch_size, MSG_DONTWAIT | MSG_NOSIGNAL);
      if (n == static_cast<ssize_t>(batch_size)) {
        batch_size = 0;
        return;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) break;
      struct pollfd p {client.fd, POLLOUT, 0};
      poll(&p, 1, 50);
    }
    client.dead = true;
    batch_size = 0;
  }
  void Colour(int code) {
    if (code % 20 == colour) return;
    colour = code % 20;
    Post(1031, kColours[colour], 0);
  }
  void Segment(ops::PlanarPoint a, ops::PlanarPoint b) { SegmentPixels(Pixel(a.x, a.y), Pixel(b.x, b.y)); }
  void SegmentPixels(std::int64_t from, std::int64_t to) {
    if (from != at) Post(1028, 0, from);
    at = to;
    // A line to its own start sets no pixel (a line leaves its end pixel
    // undrawn) and leaves the position where it is: not sent.
    if (to != from) Post(1027, 0, to);
  }
  void Pause(int ms) {
    if (pause_percent <= 0 || client.dead) return;
    Flush();
    platform::SleepMs(ms * pause_percent / 100);
  }
};

// The decimal text of v, as "%d" writes it, without a terminating NUL;
// returns its length (at most 11).
std::size_t Decimal(int v, char* out) {
  char digits[12];
  std::size_t n = 0;
  std::uint32_t u = v < 0 ? 0u - static_cast<std::uint32_t>(v) : static_cast<std::uint32_t>(v);
  do {
    digits[n++] = static_cast<char>('0' + u % 10);
    u /= 10;
  } while (u);
  std::size_t k = 0;
  if (v < 0) out[k++] = '-';
  while (n) out[k++] = digits[--n];
  return k;
}

// v right-aligned in at least `width` characters, as "%*d" writes it.
void AppendDecimal(std::string& out, int v, int width) {
  char text[16];
  const std::size_t n = Decimal(v, text);
  for (std::size_t k = n; k < static_cast<std::size_t>(width); ++k) out.push_back(' ');
  out.append(text, n);
}

void TraceText(void*, const char* message) { fputs(message, stdout); }

void HullEdge(void* ctx, ops::PlanarPoint a, ops::PlanarPoint b) {
  auto* d = static_cast<Drawing*>(ctx);
  d->Colour(13);
  d->Segment(a, b);
  d->Pause(1);
}

void Triangle(Drawing* d, const ops::PlanarPoint v[3]) {
  // Each corner's pixel once: the three sides share them.
  const std::int64_t a = d->Pixel(v[0].x, v[0].y), b = d->Pixel(v[1].x, v[1].y), c = d->Pixel(v[2].x, v[2].y);
  d->SegmentPixels(a, b);
  d->SegmentPixels(b, c);
  d->SegmentPixels(c, a);
}

void FanTriangle(void* ctx, const ops::PlanarPoint v[3]) {
  auto* d = static_cast<Drawing*>(ctx);
  d->Colour(16);
  Triangle(d, v);
  d->Pause(5);
}

void InsertedPoint(void* ctx, ops::PlanarPoint p) {
  auto* d = static_cast<Drawing*>(ctx);
  d->Colour(2);
  d->Post(1035, 2, d->Pixel(p.x, p.y));
  d->Pause(10);
}

void ChangedTriangle(void* ctx, int triangle, const ops::PlanarPoint v[3]) {
  auto* d = static_cast<Drawing*>(ctx);
  d->Colour(12);
  Triangle(d, v);
  const double x = (v[0].x + v[1].x + v[2].x) / 3.0, y = (v[0].y + v[1].y + v[2].y) / 3.0;
  char number[16];
  const std::size_t length = Decimal(triangle, number);
  d->Post(1036, 0, d->Pixel(x, y), number, length);
  d->Pause(5);
}

}  // namespace

int main(int argc, char** argv) {
  g_program = ProgramName(argv[0]);
  printf("%s: Test tin (new) sort\n", g_program.c_str());
  if (argc < 2) return Usage();
  std::vector<std::string> operands;
  bool full = false;
  int pause_percent = 100;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (a[0] != '-' || a[1] == 0) {
      operands.push_back(a);
      continue;
    }
    const char letter = a[1];
    const char* value = a + 2;
    if (*value == '=') ++value;
    if (letter == 'h' || letter == '?') return Usage();
    if (letter == 'f' && !*value) {
      full = true;
      continue;
    }
    if (letter == 'p' && *value) {
      char* end = nullptr;
      const long v = std::strtol(value, &end, 10);
      if (*end == 0 && v >= 0 && v <= 100000) {
        pause_percent = static_cast<int>(v);
        continue;
      }
    }
    printf("***Error:%s\n", "unexpected option");
    return Usage();
  }
  if (operands.empty()) FATAL("No input file name given\n");
  const std::string input = operands[0];
  std::string output = operands.size() > 1 ? operands[1] : input;
  if (operands.size() < 2) {
    const size_t slash = output.find_last_of('/');
    const size_t dot = output.rfind('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) output.resize(dot);
    output += ".tin";
  }
  FILE* in = fopen(input.c_str(), "r");
  struct stat st;
  if (!in || fstat(fileno(in), &st) != 0 || !S_ISREG(st.st_mode)) FATAL("Point file (%s) open error\n", input.c_str());
  // The output is never the input, whatever its spelling.
  struct stat out_st;
  if (output == input || (stat(output.c_str(), &out_st) == 0 && out_st.st_dev == st.st_dev && out_st.st_ino == st.st_ino))
    FATAL("Output file (%s) open error\n", output.c_str());
  // A directory or anything else that cannot be replaced by a file is
  // refused before the work, not after it.
  if (platform::SafeCheckTarget(output.c_str(), {input.c_str()}) != platform::kSafeOk)
    FATAL("Output file (%s) open error\n", output.c_str());

  // First pass: the hull line, the count and the range.
  static LineReader reader;
  reader.f = in;
  std::string line;
  int iH = 0, nH = 0;
  if (!reader.Read(line)) FATAL("Fewer than 3 given points (%d)\n", 0);
  {
    char* end = nullptr;
    const long a = std::strtol(line.c_str(), &end, 10);
    char* end2 = nullptr;
    const long b = std::strtol(end, &end2, 10);
    if (end == line.c_str() || end2 == end || a < 0 || b < 0 || a > 0x7fffffff || b > 0x7fffffff)
      FATAL("Invalid hull point range?\n");
    iH = static_cast<int>(a);
    nH = static_cast<int>(b);
  }
  long n = 0, line_number = 1;
  double xmin = HUGE_VAL, xmax = -HUGE_VAL, ymin = HUGE_VAL, ymax = -HUGE_VAL;
  float v[3];
  while (reader.Read(line)) {
    ++line_number;
    if (Skipped(line)) continue;
    if (!ParsePoint(line, v)) FATAL("Invalid point line %ld: %s\n", line_number, line.c_str());
    ++n;
    xmin = std::min<double>(xmin, v[0]);
    xmax = std::max<double>(xmax, v[0]);
    ymin = std::min<double>(ymin, v[1]);
    ymax = std::max<double>(ymax, v[1]);
  }
  if (n < 3) FATAL("Fewer than 3 given points (%ld)\n", n);
  if (n > 100000000) FATAL("no memory:%ld\n", n);
  printf("input points: %ld first hull: %d hull count: %d\n", n, iH, nH);
  if (nH != 0 && static_cast<long>(iH) + nH != n) FATAL("Invalid hull point range?\n");
  const double xr = xmax - xmin, yr = ymax - ymin;
  printf("coordinate range, x: %g y: %g\n", xr, yr);

  // The trace window.
  Drawing draw;
  draw.pause_percent = pause_percent;
  int width = 0, height = 0, trace_status = 0;
  if (platform::WindowConnect(draw.client, "lumenlog") != 0 ||
      platform::WindowQueryClient(draw.client, &width, &height) != 0)
    trace_status = 1;
  else if (width <= 7 || height <= 7)
    trace_status = 2;
  else if (xr < 4e-12 || yr < 4e-12)
    trace_status = 3;
  if (trace_status) FATAL("Tracing request failed: %d\n", trace_status);
  draw.SetMapping(1.1 * std::max(xr / width, yr / height), width / 2.0, height / 2.0, (xmin + xmax) / 2.0,
                  (ymin + ymax) / 2.0);

  // The working block: points, vertex and neighbour triples, the index array.
  const long a = Round8(12 * n), b = Round8(24 * n + 24), c = Round8(24 * n + 24), d = Round8(4 * n + 4);
  printf("Memory allocated: %ld + %ld + %ld + %ld = %ld\n", a, b, c, d, a + b + c + d);
  std::vector<ops::PlanarPoint> points;
  try {
    points.reserve(static_cast<size_t>(n));
  } catch (const std::bad_alloc&) {
    FATAL("no memory:%ld\n", a + b + c + d);
  }

  // Second pass: the points, each drawn as a plus.
  draw.Post(1026, kColours[19], 0);
  draw.Colour(0);
  reader.Rewind();
  reader.Read(line);
  line_number = 1;
  while (reader.Read(line)) {
    ++line_number;
    if (Skipped(line)) continue;
    // The file changed since the first pass: still never a point of zeros.
    if (!ParsePoint(line, v)) FATAL("Invalid point line %ld: %s\n", line_number, line.c_str());
    if (static_cast<long>(points.size()) >= n) ASSERTION("n < qpTin.npts");
    points.push_back({v[0], v[1]});
    draw.Post(1035, 1, draw.Pixel(v[0], v[1]));
  }
  fclose(in);
  // A file cut short since the first pass: its hull and block no longer fit.
  if (static_cast<long>(points.size()) != n) ASSERTION("n == qpTin.npts");

  ops::TinTrace trace;
  trace.ctx = &draw;
  trace.text = TraceText;
  trace.hull_edge = HullEdge;
  trace.fan_triangle = FanTriangle;
  trace.inserted_point = InsertedPoint;
  trace.changed_triangle = ChangedTriangle;
  ops::Tin tin;
  ops::TinCounts counts;
  const int status = ops::q2mtin(points.data(), static_cast<int>(points.size()), iH, nH, &tin, &counts, &trace);
  draw.Flush();
  printf("status: %d, counts %d %d\n", status, counts.duplicated, counts.failed);
  platform::WindowDisconnect(draw.client);
  if (status != 0) return 0;

  platform::SafeOutput out;
  if (platform::SafeCheckTarget(output.c_str(), {input.c_str()}) != 0 || platform::SafeOpen(out, output.c_str()) != 0)
    FATAL("Output file (%s) open error\n", output.c_str());
  // "%d %d %d %d %d %d\n" with -f, else "%4d %4d\n".
  std::string text;
  text.reserve(static_cast<std::size_t>(tin.ntri) * (full ? 40 : 10));
  for (int t = 0; t < tin.ntri; ++t) {
    if (full) {
      for (int k = 0; k < 6; ++k) {
        AppendDecimal(text, k < 3 ? tin.vt[3 * t + k] : tin.nb[3 * t + k - 3], 0);
        text.push_back(k < 5 ? ' ' : '\n');
      }
    } else {
      AppendDecimal(text, tin.vt[t], 4);
      text.push_back(' ');
      AppendDecimal(text, tin.nb[t], 4);
      text.push_back('\n');
    }
  }
  if (platform::SafeWrite(out, text.data(), text.size()) != 0 || platform::SafeCommit(out) != 0) {
    platform::SafeAbandon(out);
    FATAL("Output file (%s) open error\n", output.c_str());
  }
  return 0;
}

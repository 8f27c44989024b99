// A reader of HP-GL/2 written apart from lib/plot, for the tests: it decodes
// what a plot file says (PE in base 64 and base 32 with the "<", "=" and ">"
// flags, PM polygon mode with FP, LB labels to byte 3, PA/PR/PU/PD) into
// pen-down polylines, filled polygons (each a list of rings), dots and labels,
// and can rasterise them to check a plot against a screen picture.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace hpgl_test {

struct Pt {
  double x = 0, y = 0;
};
struct Polyline {
  std::vector<Pt> points;
  int pe = -1;  // index of the PE instruction it came from
};
struct Label {
  Pt at;
  std::string text;
};
struct Plot {
  std::vector<Polyline> lines;            // pen-down paths outside polygon mode
  std::vector<std::vector<std::vector<Pt>>> fills;  // FP: rings of the polygon buffer
  std::vector<Pt> dots;                   // PD at a point with no movement
  std::vector<Label> labels;
  std::vector<std::string> instructions;  // mnemonics in order (PE counted once each)
  int pe_count = 0;
  bool ok = true;                          // false: something could not be read
  std::string error;
};

class Reader {
 public:
  explicit Reader(const std::string& s) : s_(s) {}

  Plot Read() {
    while (i_ < s_.size()) {
      const char c = s_[i_];
      if (c == ';' || c == '\n' || c == '\r' || c == ' ' || c == ',') {
        ++i_;
        continue;
      }
      if (i_ + 1 >= s_.size() || !isalpha((unsigned char)c) || !isalpha((unsigned char)s_[i_ + 1])) {
        return Fail("unexpected byte");
      }
      std::string m = {(char)toupper(c), (char)toupper((unsigned char)s_[i_ + 1])};
      i_ += 2;
      out_.instructions.push_back(m);
      if (m == "PE") {
        if (!ReadPE()) return out_;
      } else if (m == "LB") {
        const size_t end = s_.find('\003', i_);
        if (end == std::string::npos) return Fail("label without end");
        out_.labels.push_back({pen_, s_.substr(i_, end - i_)});
        i_ = end + 1;
      } else {
        std::vector<double> a = Numbers();
        Instruction(m, a);
      }
    }
    EndLine();
    return out_;
  }

 private:
  Plot Fail(const char* why) {
    out_.ok = false;
    out_.error = std::string(why) + " at byte " + std::to_string(i_);
    return out_;
  }

  std::vector<double> Numbers() {
    std::vector<double> a;
    while (i_ < s_.size() && s_[i_] != ';' && !isalpha((unsigned char)s_[i_])) {
      if (s_[i_] == ',' || s_[i_] == ' ') {
        ++i_;
        continue;
      }
      char* end = nullptr;
      const double v = strtod(s_.c_str() + i_, &end);
      if (end == s_.c_str() + i_) {
        ++i_;
        continue;
      }
      a.push_back(v);
      i_ = (size_t)(end - s_.c_str());
    }
    return a;
  }

  void EndLine() {
    if (line_.points.size() >= 2) out_.lines.push_back(line_);
    line_.points.clear();
  }

  void MoveTo(Pt p, bool down) {
    if (polygon_) {
      if (!down || ring_.empty()) {
        if (ring_.size() >= 2) rings_.push_back(ring_);
        ring_.clear();
      }
      ring_.push_back(p);
    } else if (down) {
      if (line_.points.empty()) line_.points.push_back(pen_);
      line_.points.push_back(p);
      line_.pe = pe_index_;
    } else {
      EndLine();
    }
    pen_ = p;
    down_ = down;
  }

  void Instruction(const std::string& m, const std::vector<double>& a) {
    if (m == "PA" || m == "PR") {
      relative_ = m == "PR";
      for (size_t k = 0; k + 1 < a.size(); k += 2) Move(a[k], a[k + 1], down_);
    } else if (m == "PU" || m == "PD") {
      const bool down = m == "PD";
      if (a.empty()) {
        if (down && !polygon_) out_.dots.push_back(pen_);
        if (!down) EndLine();
        down_ = down;
      }
      for (size_t k = 0; k + 1 < a.size(); k += 2) Move(a[k], a[k + 1], down);
    } else if (m == "PM") {
      const int n = a.empty() ? 0 : (int)a[0];
      if (n == 0) {
        EndLine();
        polygon_ = true;
        rings_.clear();
        ring_.assign(1, pen_);
      } else if (n == 1) {
        if (ring_.size() >= 2) rings_.push_back(ring_);
        ring_.clear();
      } else {
        if (ring_.size() >= 2) rings_.push_back(ring_);
        ring_.clear();
        polygon_ = false;
        buffer_ = rings_;
      }
    } else if (m == "FP") {
      out_.fills.push_back(buffer_);
    } else if (m == "IN" || m == "DF") {
      relative_ = false;
    }
  }

  void Move(double x, double y, bool down) {
    Pt p = relative_ ? Pt{pen_.x + x, pen_.y + y} : Pt{x, y};
    MoveTo(p, down);
  }

  // One PE instruction up to ";".
  bool ReadPE() {
    pe_index_ = out_.pe_count++;
    int base = 64, fraction = 0;
    bool up = false, absolute = false;
    std::vector<double> pair;
    while (i_ < s_.size() && s_[i_] != ';') {
      const unsigned char c = (unsigned char)s_[i_];
      if (c == '<') {
        up = true;
        ++i_;
        continue;
      }
      if (c == '=') {
        absolute = true;
        ++i_;
        continue;
      }
      if (c == '>') {
        ++i_;
        fraction = (int)Decode(base);
        continue;
      }
      if (c == '7') {
        base = 32;
        ++i_;
        continue;
      }
      if (c < 63) {
        Fail("bad PE byte");
        return false;
      }
      double v = Decode(base);
      if (fraction) v /= std::pow(2.0, fraction);
      pair.push_back(v);
      if (pair.size() == 2) {
        Pt p = absolute ? Pt{pair[0], pair[1]} : Pt{pen_.x + pair[0], pen_.y + pair[1]};
        MoveTo(p, !up);
        pair.clear();
        up = absolute = false;
      }
    }
    if (!pair.empty()) {
      Fail("odd PE coordinate count");
      return false;
    }
    return true;
  }

  // One number: digits 63..(63+base-1), the last digit offset by 191 (base
  // 64) or 95 (base 32).
  double Decode(int base) {
    const int last = base == 64 ? 191 : 95;
    uint64_t u = 0, mul = 1;
    while (i_ < s_.size()) {
      const int c = (unsigned char)s_[i_++];
      if (c >= last && c < last + base) {
        u += (uint64_t)(c - last) * mul;
        break;
      }
      if (c < 63 || c >= 63 + base) {
        Fail("bad PE digit");
        return 0;
      }
      u += (uint64_t)(c - 63) * mul;
      mul *= (uint64_t)base;
    }
    return (u & 1) ? -(double)(u >> 1) : (double)(u >> 1);
  }

  const std::string& s_;
  size_t i_ = 0;
  Plot out_;
  Pt pen_;
  bool down_ = false, relative_ = false, polygon_ = false;
  Polyline line_;
  std::vector<Pt> ring_;
  std::vector<std::vector<Pt>> rings_, buffer_;
  int pe_index_ = -1;
};

inline Plot ReadPlot(const std::string& s) { return Reader(s).Read(); }

// Even-odd rasterisation of a fill's rings onto a w x h grid of cells of
// size cell (cell centres at cell * (i + 0.5) from origin).
inline std::vector<uint8_t> RasteriseFill(const std::vector<std::vector<Pt>>& rings, int w, int h, double cell,
                                          Pt origin) {
  std::vector<uint8_t> g((size_t)w * h, 0);
  std::vector<double> xs;
  // Scan lines through the cell centres: the crossings of every edge, sorted;
  // even-odd pairs of crossings bound the inside.
  for (int j = 0; j < h; ++j) {
    const double y = origin.y + cell * (j + 0.5);
    xs.clear();
    for (const auto& r : rings)
      for (size_t k = 0, n = r.size(); k < n; ++k) {
        const Pt& a = r[k];
        const Pt& b = r[(k + 1) % n];
        if ((a.y > y) != (b.y > y)) xs.push_back(a.x + (y - a.y) * (b.x - a.x) / (b.y - a.y));
      }
    std::sort(xs.begin(), xs.end());
    for (size_t k = 0; k + 1 < xs.size(); k += 2) {
      // Cells whose centre x lies in [xs[k], xs[k+1]).
      const double lo = (xs[k] - origin.x) / cell - 0.5, hi = (xs[k + 1] - origin.x) / cell - 0.5;
      for (int i = std::max(0, (int)std::ceil(lo)); i < w && i < hi; ++i) g[(size_t)j * w + i] = 1;
    }
  }
  return g;
}

}  // namespace hpgl_test

// The planar predicates of region work: a point against a leg, and a leg
// against a leg, in the tangent plane of one cell.
//
// Plane coordinates (u, v) are those of a cell's TangentFrame (gnomonic, in
// units of the unit sphere); near the cell centre a plane length is an angle
// in radians. f is the fuzz, a plane length (the boundary fuzz angle, or the
// library default when it is 0); g = 2f is the reach of an end point.
//
// A Leg runs from p1 to p2; its direction, length and widened bounding box are
// worked out once by MakeLeg and reused for every point classified against it.
// A leg shorter than the square root of SAME_POINT_SQ is degenerate: it has
// length 0 and stands for the point p1.
#pragma once

namespace ops {

struct PlanePoint {
  double u = 0.0;
  double v = 0.0;
};

struct Leg {
  PlanePoint p1, p2;
  double eu = 0.0, ev = 0.0;  // unit direction (0, 0 when degenerate)
  double length = 0.0;
  double umin = 0.0, umax = 0.0, vmin = 0.0, vmax = 0.0;  // box widened by 2f
  double fuzz = 0.0;
  bool degenerate = false;
};

Leg MakeLeg(PlanePoint p1, PlanePoint p2, double fuzz);

// LegClassify flag bits.
inline constexpr int LEG_AT_START = 1;     // within g of p1
inline constexpr int LEG_AT_END = 2;       // within g of p2
inline constexpr int LEG_ON = 3;           // on the leg between its ends (a value, not a flag set)
inline constexpr int LEG_LEFT = 4;         // across > f
inline constexpr int LEG_RIGHT = 8;        // across < -f
inline constexpr int LEG_ON_LINE = 16;     // |across| <= f
inline constexpr int LEG_BEFORE = 32;      // along < -f
inline constexpr int LEG_AT_P1 = 64;       // -f <= along <= f
inline constexpr int LEG_BETWEEN = 128;
inline constexpr int LEG_AT_P2 = 256;      // L - f <= along <= L + f
inline constexpr int LEG_BEYOND = 512;     // along > L + f
inline constexpr int LEG_DEGENERATE = 1024;

// Classifies q against the leg. When q lies within g of an end point the
// result is LEG_AT_START and/or LEG_AT_END alone and along/across are not
// set. When q is on the leg's line strictly between its ends the result is
// LEG_ON. Otherwise one side flag and one position flag. A degenerate leg
// gives LEG_DEGENERATE, with both end flags when q is within g of its point.
// along and across (across positive to the left) are stored when the
// pointers are given and the classification got that far.
int LegClassify(const Leg& leg, PlanePoint q, double* along = nullptr, double* across = nullptr);

// LegCross results.
inline constexpr int CROSS_NONE = 0;
inline constexpr int CROSS_PROPER = 1;   // +1: b leaves to the left of a; -1 to the right
inline constexpr int CROSS_OVERLAP = 2;  // +2 same way, -2 opposite ways
inline constexpr int CROSS_TOUCH = 3;    // the legs meet at end points of both only

// Where a contact lies on a leg.
inline constexpr int CONTACT_INSIDE = 0;
inline constexpr int CONTACT_START = 1;
inline constexpr int CONTACT_END = 2;
inline constexpr int CONTACT_WHOLE = 3;

struct LegCrossing {
  int result = CROSS_NONE;
  int count = 0;            // crossing points: 1, or 2 for an overlap
  PlanePoint point[2];
  int contact_a[2] = {0, 0};  // per point, on leg a
  int contact_b[2] = {0, 0};  // per point, on leg b
};

// The crossing of legs a and b (both made with the same fuzz).
//
// The case table, with g = 2f and "at an end" meaning within g of it:
// - b's ends both beyond one side of a's widened box, or a's of b's: none.
// - a degenerate leg (a point) within g of the other leg's end, or within f
//   of it between its ends, or two degenerate legs within g: a touch (3).
// - both ends of one leg within f of the other's line: an overlap (+-2) when
//   the shared stretch is longer than g, a touch (3) when it is shorter (the
//   legs meet end to end), else none.
// - otherwise the lines meet in one point X: none when X is not on both legs
//   (allowing g at the ends); a touch (3) when X is at an end of both; else a
//   crossing +-1, positive when b runs to the left of a (the cross product of
//   the directions is positive), also when X is at an end of just one leg.
// The table is symmetric: crossing(b, a) has the same result with the sign
// of +-1 negated, the same points and the contacts swapped.
LegCrossing LegCross(const Leg& a, const Leg& b);

}  // namespace ops

// LegClassify and LegCross.
//
// A leg keeps its unit direction e and length L; a point q is measured by
// along = e.(q - p1) and across = e x (q - p1), so that the side and the
// position along the leg come from two dot products. LegCross first rejects
// by the widened boxes, then tells the collinear case (every end of one leg
// within f of the other's line) from the general one, in which the two lines
// meet in one point found from the parameters along both legs. End contacts
// are snapped: a contact within g of an end point is at that end point.
#include "lib/ops/leg_predicates.h"

#include <algorithm>
#include <cmath>

#include "lib/geodesy/constants.h"

namespace ops {

namespace {

double Cross2(double au, double av, double bu, double bv) { return au * bv - av * bu; }

double Dist2(PlanePoint a, PlanePoint b) {
  const double du = a.u - b.u, dv = a.v - b.v;
  return du * du + dv * dv;
}

// Out-code of q against the leg's widened box: left 4, right 8, below 2, above 1.
int OutCode(const Leg& l, PlanePoint q) {
  int c = 0;
  if (q.u < l.umin) c |= 4;
  if (q.u > l.umax) c |= 8;
  if (q.v < l.vmin) c |= 2;
  if (q.v > l.vmax) c |= 1;
  return c;
}

// Contact code of the point at parameter t (plane length along the leg).
int ContactAt(const Leg& l, PlanePoint x, double g) {
  if (Dist2(x, l.p1) <= g * g) return CONTACT_START;
  if (Dist2(x, l.p2) <= g * g) return CONTACT_END;
  return CONTACT_INSIDE;
}

PlanePoint Along(const Leg& l, double t) { return {l.p1.u + t * l.eu, l.p1.v + t * l.ev}; }

LegCrossing Swapped(LegCrossing c) {
  if (c.result == CROSS_PROPER || c.result == -CROSS_PROPER) c.result = -c.result;
  for (int i = 0; i < 2; ++i) std::swap(c.contact_a[i], c.contact_b[i]);
  return c;
}

// A degenerate leg a (a point) against the leg b.
LegCrossing PointAgainstLeg(const Leg& a, const Leg& b) {
  LegCrossing r;
  const double g = 2.0 * a.fuzz;
  const PlanePoint p = a.p1;
  int code = -1;
  PlanePoint at = p;
  if (b.degenerate) {
    if (Dist2(p, b.p1) <= g * g) code = CONTACT_WHOLE, at = {(p.u + b.p1.u) * 0.5, (p.v + b.p1.v) * 0.5};
  } else {
    const int f = LegClassify(b, p);
    if (f & LEG_AT_START) code = CONTACT_START, at = b.p1;
    else if (f & LEG_AT_END) code = CONTACT_END, at = b.p2;
    else if (f == LEG_ON || ((f & LEG_ON_LINE) && (f & (LEG_BETWEEN | LEG_AT_P1 | LEG_AT_P2))))
      code = CONTACT_INSIDE;
  }
  if (code < 0) return r;
  r.result = CROSS_TOUCH;
  r.count = 1;
  r.point[0] = at;
  r.contact_a[0] = CONTACT_WHOLE;
  r.contact_b[0] = code;
  return r;
}

// b lies along a's line (both ends within f of it).
LegCrossing Collinear(const Leg& a, const Leg& b) {
  LegCrossing r;
  const double g = 2.0 * a.fuzz;
  double t1 = a.eu * (b.p1.u - a.p1.u) + a.ev * (b.p1.v - a.p1.v);
  double t2 = a.eu * (b.p2.u - a.p1.u) + a.ev * (b.p2.v - a.p1.v);
  const double lo = std::max(0.0, std::min(t1, t2));
  const double hi = std::min(a.length, std::max(t1, t2));
  if (hi - lo < -g) return r;
  if (hi - lo <= g) {
    // A single contact: it must be at an end of both legs.
    const PlanePoint x = Along(a, 0.5 * (lo + hi));
    const int ca = ContactAt(a, x, g), cb = ContactAt(b, x, g);
    if (ca == CONTACT_INSIDE || cb == CONTACT_INSIDE) return r;
    r.result = CROSS_TOUCH;
    r.count = 1;
    const PlanePoint pa = ca == CONTACT_START ? a.p1 : a.p2;
    const PlanePoint pb = cb == CONTACT_START ? b.p1 : b.p2;
    r.point[0] = {(pa.u + pb.u) * 0.5, (pa.v + pb.v) * 0.5};
    r.contact_a[0] = ca;
    r.contact_b[0] = cb;
    return r;
  }
  const bool same = a.eu * b.eu + a.ev * b.ev > 0.0;
  r.result = same ? CROSS_OVERLAP : -CROSS_OVERLAP;
  r.count = 2;
  // The stretch's ends in the direction of a.
  const PlanePoint x0 = Along(a, lo), x1 = Along(a, hi);
  const bool whole_a = lo <= g && hi >= a.length - g;
  const bool whole_b = std::min(t1, t2) >= lo - g && std::max(t1, t2) <= hi + g;
  const PlanePoint xs[2] = {x0, x1};
  for (int i = 0; i < 2; ++i) {
    r.contact_a[i] = whole_a ? CONTACT_WHOLE : ContactAt(a, xs[i], g);
    r.contact_b[i] = whole_b ? CONTACT_WHOLE : ContactAt(b, xs[i], g);
    r.point[i] = xs[i];
    if (r.contact_a[i] == CONTACT_START) r.point[i] = a.p1;
    else if (r.contact_a[i] == CONTACT_END) r.point[i] = a.p2;
  }
  return r;
}

bool AlongLine(const Leg& l, PlanePoint q) {
  const double across = Cross2(l.eu, l.ev, q.u - l.p1.u, q.v - l.p1.v);
  return std::fabs(across) <= l.fuzz;
}

}  // namespace

Leg MakeLeg(PlanePoint p1, PlanePoint p2, double fuzz) {
  Leg l;
  l.p1 = p1;
  l.p2 = p2;
  l.fuzz = fuzz;
  const double du = p2.u - p1.u, dv = p2.v - p1.v;
  const double d2 = du * du + dv * dv;
  const double g = 2.0 * fuzz;
  l.umin = std::min(p1.u, p2.u) - g;
  l.umax = std::max(p1.u, p2.u) + g;
  l.vmin = std::min(p1.v, p2.v) - g;
  l.vmax = std::max(p1.v, p2.v) + g;
  if (d2 < geodesy::SAME_POINT_SQ) {
    l.degenerate = true;
    return l;
  }
  l.length = std::sqrt(d2);
  l.eu = du / l.length;
  l.ev = dv / l.length;
  return l;
}

int LegClassify(const Leg& leg, PlanePoint q, double* along, double* across) {
  const double g = 2.0 * leg.fuzz, f = leg.fuzz;
  int flags = 0;
  if (q.u >= leg.umin && q.u <= leg.umax && q.v >= leg.vmin && q.v <= leg.vmax) {
    if (Dist2(q, leg.p2) <= g * g) flags |= LEG_AT_END;
    if (Dist2(q, leg.p1) <= g * g) flags |= LEG_AT_START;
  }
  if (leg.degenerate) return LEG_DEGENERATE | flags;
  if (flags) return flags;
  const double du = q.u - leg.p1.u, dv = q.v - leg.p1.v;
  const double al = leg.eu * du + leg.ev * dv;
  const double ac = Cross2(leg.eu, leg.ev, du, dv);
  if (along) *along = al;
  if (across) *across = ac;
  const int side = ac > f ? LEG_LEFT : ac < -f ? LEG_RIGHT : LEG_ON_LINE;
  if (side == LEG_ON_LINE && al > 0.0 && al < leg.length) return LEG_ON;
  int pos;
  if (al < -f) pos = LEG_BEFORE;
  else if (al > leg.length + f) pos = LEG_BEYOND;
  else if (al <= f) pos = LEG_AT_P1;
  else if (al >= leg.length - f) pos = LEG_AT_P2;
  else pos = LEG_BETWEEN;
  return side | pos;
}

LegCrossing LegCross(const Leg& a, const Leg& b) {
  LegCrossing r;
  // Both ends beyond one side of the other's box: nothing to find. The test
  // is made both ways so that the answer does not depend on the order.
  if (OutCode(a, b.p1) & OutCode(a, b.p2)) return r;
  if (OutCode(b, a.p1) & OutCode(b, a.p2)) return r;
  if (a.degenerate) return PointAgainstLeg(a, b);
  if (b.degenerate) return Swapped(PointAgainstLeg(b, a));
  if (AlongLine(a, b.p1) && AlongLine(a, b.p2)) return Collinear(a, b);
  if (AlongLine(b, a.p1) && AlongLine(b, a.p2)) return Swapped(Collinear(b, a));

  const double g = 2.0 * a.fuzz;
  const double den = Cross2(a.eu, a.ev, b.eu, b.ev);
  if (den == 0.0) return r;
  const double wu = b.p1.u - a.p1.u, wv = b.p1.v - a.p1.v;
  const double ta = Cross2(wu, wv, b.eu, b.ev) / den;  // along a
  const double tb = Cross2(wu, wv, a.eu, a.ev) / den;  // along b
  const PlanePoint xa = Along(a, ta), xb = Along(b, tb);
  const PlanePoint x = {(xa.u + xb.u) * 0.5, (xa.v + xb.v) * 0.5};
  const int ca = ContactAt(a, x, g), cb = ContactAt(b, x, g);
  if (ca == CONTACT_INSIDE && (ta <= 0.0 || ta >= a.length)) return r;
  if (cb == CONTACT_INSIDE && (tb <= 0.0 || tb >= b.length)) return r;
  r.count = 1;
  r.contact_a[0] = ca;
  r.contact_b[0] = cb;
  if (ca != CONTACT_INSIDE && cb != CONTACT_INSIDE) {
    r.result = CROSS_TOUCH;
    // Both ends within g of each other: the mean of the two end points.
    const PlanePoint pa = ca == CONTACT_START ? a.p1 : a.p2;
    const PlanePoint pb = cb == CONTACT_START ? b.p1 : b.p2;
    r.point[0] = {(pa.u + pb.u) * 0.5, (pa.v + pb.v) * 0.5};
    return r;
  }
  r.result = den > 0.0 ? CROSS_PROPER : -CROSS_PROPER;
  if (ca != CONTACT_INSIDE) r.point[0] = ca == CONTACT_START ? a.p1 : a.p2;
  else if (cb != CONTACT_INSIDE) r.point[0] = cb == CONTACT_START ? b.p1 : b.p2;
  else r.point[0] = x;
  return r;
}

}  // namespace ops

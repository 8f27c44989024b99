// The polyline pen: great-circle arcs followed through a projection.
//
// An arc a->b is first split where it crosses the seam. The crossing of the
// arc with the central meridian's plane is the positive combination
// |sb| a + |sa| b of its ends (sa, sb their distances from that plane); it is
// on the seam when it lies opposite the central meridian. Each side is then
// drawn from positions moved kSeamNudge radians off the seam towards their
// own side, so that they project onto their own edge.
//
// A part of an arc between two samples (position, device point, drawable or
// not) is handled by halving at the normalised mean of its ends:
//   both drawable: drawn as one chord when the midpoint is drawable, within
//     kPenTolerance of the chord and the part is at most kPenLongestPart
//     long; dropped unhalved when the ends, the midpoint and the bulge the
//     midpoint shows all lie off the frame on one side; otherwise halved. A
//     part shorter than kPenBoundary that still jumps is a discontinuity
//     (the pen lifts there).
//   one drawable: halved down to kPenBoundary; the drawable half is drawn,
//     so the piece ends (or starts) at the last point that can be shown.
//   neither drawable: halved while longer than kPenHiddenPart, or when its
//     midpoint is drawable; else dropped. An arc under 180 degrees crosses a
//     hemisphere's rim at most once, so on the orthographic and gnomonic maps
//     an arc with both ends hidden is hidden whole.
// Chords are clipped to the frame (Liang-Barsky); a chord that starts away
// from where the current polyline ended starts a new one. Device points
// within kThin (half a pixel, along both axes) of the last point written are
// held back until a farther one comes or the piece ends, so that the
// thousands of sub-pixel legs of a detailed coast on a world map are not
// each stroked (and joined) by the drawing device.
#include "lib/display/pen.h"

#include <algorithm>
#include <cmath>

#include "lib/geodesy/ellipsoid.h"

namespace display {

namespace {

constexpr double kSeamNudge = 1.0e-9;
constexpr double kOnSeam = 1.0e-13;   // |u . east| below this: on the central meridian's plane
constexpr double kSamePosition = 2.458e-14;
constexpr int kMaxDepth = 64;
constexpr double kPenShortArc = 0.01;  // radians
constexpr double kThin = 0.5;          // pixels

void StateBegin(void* c, double x, double y) { BeginPolyline(static_cast<DrawState*>(c), x, y); }
void StateAdd(void* c, double x, double y) { AddPolylinePoint(static_cast<DrawState*>(c), x, y); }
void StateFinish(void* c) { FinishPolyline(static_cast<DrawState*>(c)); }

DirectionCosines Mid(const DirectionCosines& a, const DirectionCosines& b) {
  return geodesy::Normalised({a.x + b.x, a.y + b.y, a.z + b.z});
}

double Length(double dx, double dy) { return std::sqrt(dx * dx + dy * dy); }

// Distance of p from the segment a-b.
double DistanceToChord(double px, double py, double ax, double ay, double bx, double by) {
  const double dx = bx - ax, dy = by - ay, len2 = dx * dx + dy * dy;
  double t = len2 > 0 ? ((px - ax) * dx + (py - ay) * dy) / len2 : 0.0;
  t = std::clamp(t, 0.0, 1.0);
  const double ex = ax + t * dx - px, ey = ay + t * dy - py;
  return std::sqrt(ex * ex + ey * ey);
}

}  // namespace

PenOutput LinesOutput(DrawState* d) {
  PenOutput o;
  o.context = d;
  o.begin = StateBegin;
  o.add = StateAdd;
  o.finish = StateFinish;
  return o;
}

bool ProjectionSeam(const MapGeometry& g, DirectionCosines* central, DirectionCosines* east) {
  if (!g.params) return false;
  double lon0;
  switch (g.projection) {
    case PROJ_WWMERC:
    case PROJ_WWVIEW:
    case PROJ_WWPLTCRR: lon0 = g.params->world.lon0; break;
    case PROJ_MERCATOR: lon0 = g.params->mercator.lon0; break;
    case PROJ_EQDISTCYL: lon0 = g.params->eqdistcyl.lon0; break;
    case PROJ_CONICAL: lon0 = g.params->conical.lon0; break;
    case PROJ_TILESET: lon0 = g.params->tileset.lon0; break;
    default: return false;
  }
  *central = {std::cos(lon0), std::sin(lon0), 0.0};
  *east = {-std::sin(lon0), std::cos(lon0), 0.0};
  return true;
}

bool PositionToDeviceExact(const MapGeometry& g, const DirectionCosines& u, double* x, double* y) {
  if (!g.params || !geodesy::IsValid(u)) return false;
  double X, Y;
  if (ProjectForward(*g.params, g.projection, u, &X, &Y) != 0) return false;
  PlaneToDeviceExact(g.transform, X, Y, x, y);
  return std::fabs(*x - g.xmin) < kFarDevice && std::fabs(*y - g.ymin) < kFarDevice;
}

PolylinePen::PolylinePen(const MapGeometry& geometry, DrawState* state)
    : PolylinePen(geometry, LinesOutput(state)) {}

PolylinePen::PolylinePen(const MapGeometry& geometry, const PenOutput& output) : g_(geometry), out_(output) {
  seam_ = ProjectionSeam(g_, &central_, &east_);
  hemisphere_ = g_.projection == PROJ_ORTHO;
  // Device points are written with integers at pixel centres: the exact
  // point less one half. The frame's pixels are xmin..xmax, ymin..ymax.
  x0_ = g_.xmin - 0.5 - kPenFrameMargin;
  x1_ = g_.xmax + 0.5 + kPenFrameMargin;
  y0_ = g_.ymin - 0.5 - kPenFrameMargin;
  y1_ = g_.ymax + 0.5 + kPenFrameMargin;
}

PolylinePen::Sample PolylinePen::Take(const DirectionCosines& u) const {
  Sample s;
  s.u = u;
  s.ok = PositionToDeviceExact(g_, u, &s.x, &s.y);
  s.x -= 0.5;
  s.y -= 0.5;
  return s;
}

// A position on the seam is moved to the given side before it is projected.
PolylinePen::Sample PolylinePen::TakeOnSide(const DirectionCosines& u, double side) const {
  if (!seam_ || std::fabs(geodesy::Dot(u, east_)) >= kOnSeam || geodesy::Dot(u, central_) > 0) return Take(u);
  // The sample keeps the moved position, so that the midpoints taken
  // between it and the arc's other end stay on the same side.
  return Take(geodesy::Normalised({u.x + side * kSeamNudge * east_.x, u.y + side * kSeamNudge * east_.y, u.z}));
}

// +1 east of the central meridian's plane, -1 west, 0 on it.
double PolylinePen::SideOf(const DirectionCosines& u) const {
  const double s = geodesy::Dot(u, east_);
  return std::fabs(s) < kOnSeam ? 0.0 : (s > 0 ? 1.0 : -1.0);
}

void PolylinePen::EndPiece() {
  if (open_) {
    if (pending_) {
      out_.add(out_.context, px_, py_);
      ++points;
    }
    out_.finish(out_.context);
  }
  open_ = false;
  pending_ = false;
}

void PolylinePen::Break() {
  EndPiece();
  have_last_ = false;
  cached_ = false;
}

void PolylinePen::MoveTo(const DirectionCosines& u) {
  Break();
  if (!geodesy::IsValid(u)) return;
  last_ = u;
  have_last_ = true;
  if (seam_ && SideOf(u) != 0) last_side_ = SideOf(u);
}

void PolylinePen::LineTo(const DirectionCosines& u) {
  if (!geodesy::IsValid(u)) {
    Break();
    return;
  }
  if (!have_last_) {
    MoveTo(u);
    return;
  }
  if (geodesy::ChordSq(last_, u) < kSamePosition) return;
  Arc(last_, u);
  last_ = u;
  if (seam_ && SideOf(u) != 0) last_side_ = SideOf(u);
}

void PolylinePen::Arc(const DirectionCosines& a, const DirectionCosines& b) {
  // Opposite positions: no one great circle joins them.
  if (geodesy::ChordSq(a, b) > 4.0 - kSamePosition) {
    EndPiece();
    cached_ = false;
    return;
  }
  // The last arc's end sample serves as this one's start unless it lies on
  // the seam (where its side depends on the arc).
  if (!seam_) {
    const Sample sa = cached_ ? cached_sample_ : Take(a);
    cached_sample_ = Take(b);
    cached_ = true;
    Part(sa, cached_sample_, 0);
    return;
  }
  double sa = SideOf(a), sb = SideOf(b);
  // A position on the seam takes the side of the other end (or, for an arc
  // along the seam, the side the line was last on).
  const bool a_on = sa == 0, b_on = sb == 0;
  if (sa == 0) sa = sb != 0 ? sb : last_side_;
  if (sb == 0) sb = sa;
  const Sample start = cached_ && !a_on ? cached_sample_ : TakeOnSide(a, sa);
  const Sample end = TakeOnSide(b, sb);
  cached_ = !b_on;
  cached_sample_ = end;
  if (sa != sb) {
    const double da = std::fabs(geodesy::Dot(a, east_)), db = std::fabs(geodesy::Dot(b, east_));
    const DirectionCosines c =
        geodesy::Normalised({db * a.x + da * b.x, db * a.y + da * b.y, db * a.z + da * b.z});
    if (geodesy::IsValid(c) && geodesy::Dot(c, central_) < 0) {
      Part(start, TakeOnSide(c, sa), 0);
      EndPiece();
      Part(TakeOnSide(c, sb), end, 0);
      return;
    }
  }
  Part(start, end, 0);
}

void PolylinePen::Part(const Sample& a, const Sample& b, int depth) {
  const double angle = std::sqrt(geodesy::ChordSq(a.u, b.u));
  const bool tiny = angle < kPenBoundary || depth >= kMaxDepth;
  if (a.ok && b.ok) {
    const double jump = Length(b.x - a.x, b.y - a.y);
    if (tiny) {
      if (jump <= 2.0)
        Segment(a, b);
      else
        EndPiece();  // a discontinuity of the projection
      return;
    }
    // A short arc whose ends are within a pixel of each other cannot bulge
    // by half a pixel.
    if (jump <= 1.0 && angle <= kPenShortArc) {
      Segment(a, b);
      return;
    }
    Sample m = Take(Mid(a.u, b.u));
    if (m.ok) {
      const double bulge = DistanceToChord(m.x, m.y, a.x, a.y, b.x, b.y);
      if (bulge <= kPenTolerance && angle <= kPenLongestPart) {
        Segment(a, b);
        return;
      }
      // Wholly beyond one side of the frame: nothing of it shows.
      const double reach = 2.0 * bulge + kPenFrameMargin;
      const double lo_x = std::min({a.x, b.x, m.x}) - reach, hi_x = std::max({a.x, b.x, m.x}) + reach;
      const double lo_y = std::min({a.y, b.y, m.y}) - reach, hi_y = std::max({a.y, b.y, m.y}) + reach;
      if (angle <= kPenLongestPart && (hi_x < x0_ || lo_x > x1_ || hi_y < y0_ || lo_y > y1_)) {
        EndPiece();
        return;
      }
    }
    Part(a, m, depth + 1);
    Part(m, b, depth + 1);
    return;
  }
  if (a.ok || b.ok) {
    if (tiny) {
      EndPiece();  // the boundary of the drawable map
      return;
    }
    const Sample m = Take(Mid(a.u, b.u));
    Part(a, m, depth + 1);
    Part(m, b, depth + 1);
    return;
  }
  // Neither end drawable. On the globe what cannot be drawn is the far
  // hemisphere, and an arc under 180 degrees with both ends there stays
  // there.
  if (tiny || hemisphere_) {
    EndPiece();
    return;
  }
  const Sample m = Take(Mid(a.u, b.u));
  if (!m.ok && angle <= kPenHiddenPart) {
    EndPiece();
    return;
  }
  Part(a, m, depth + 1);
  Part(m, b, depth + 1);
}

// One chord, clipped to the frame (widened by the margin).
void PolylinePen::Segment(const Sample& a, const Sample& b) {
  const double dx = b.x - a.x, dy = b.y - a.y;
  double t0 = 0.0, t1 = 1.0;
  const double p[4] = {-dx, dx, -dy, dy};
  const double q[4] = {a.x - x0_, x1_ - a.x, a.y - y0_, y1_ - a.y};
  for (int i = 0; i < 4; ++i) {
    if (p[i] == 0.0) {
      if (q[i] < 0.0) {
        EndPiece();
        return;
      }
      continue;
    }
    const double r = q[i] / p[i];
    if (p[i] < 0.0)
      t0 = std::max(t0, r);
    else
      t1 = std::min(t1, r);
  }
  if (t0 > t1) {
    EndPiece();
    return;
  }
  const double sx = a.x + t0 * dx, sy = a.y + t0 * dy, ex = a.x + t1 * dx, ey = a.y + t1 * dy;
  if (open_ && (t0 > 0.0 || Length(sx - px_, sy - py_) > 0.75)) EndPiece();
  if (!open_) {
    out_.begin(out_.context, sx, sy);
    open_ = true;
    ++pieces;
    ++points;
    ox_ = sx;
    oy_ = sy;
    pending_ = false;
  }
  // Points closer than kThin to the last one written wait: the next point
  // replaces them, or the end of the piece writes the last of them. So a
  // run of sub-pixel legs becomes one device segment per pixel or so.
  px_ = ex;
  py_ = ey;
  if (std::fabs(ex - ox_) < kThin && std::fabs(ey - oy_) < kThin) {
    pending_ = true;
  } else {
    out_.add(out_.context, ex, ey);
    ++points;
    ox_ = ex;
    oy_ = ey;
    pending_ = false;
  }
  if (t1 < 1.0) EndPiece();
}

}  // namespace display

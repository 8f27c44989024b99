// Point-set derivations: selection of unique, reduced and duplicate points,
// common and combined points of two sets, and points inside or outside a
// region.
//
// Points are compared by their stored bytes: the coordinate part alone
// (datum flag DATUM_IGNORED) or the whole record; there is no numeric
// tolerance. Results keep the points' stored order within each cell and are
// written cell by cell in ascending cell order. Every operation may be called
// with ctx.output == nullptr: it then only answers 0 (the result would hold a
// point) or -1 (it would be empty) and builds nothing.
#pragma once

#include "lib/cells/object_model.h"
#include "lib/geodesy/ellipsoid.h"
#include "lib/ops/derive_params.h"

namespace ops {

// mode 1 unique, 2 reduced, 3 duplicates, plus DATUM_IGNORED.
int q7_PsetSelect(const DeriveContext& ctx, const cells::Object& source, int mode);

// mode 1 common, 2 combined unique, 3 combined all; datum_flag DATUM_IGNORED
// or 0.
int q7_PsetMerge(const DeriveContext& ctx, const cells::Object& first, const cells::Object& second,
                 int mode, int datum_flag);

// mode 1 near, 2 afar: the points within `proximity` of the lines (metres
// on the ellipsoid e; with e == nullptr an angle in radians, at most pi/4).
// The proximity may not exceed e->a. Below 0.0001 m the tolerance is the
// squared chord SAME_POINT_SQ (the point lies on a line).
int q7_PsetNearLines(const DeriveContext& ctx, const cells::Object& points, const cells::Object& lines,
                     const geodesy::Ellipsoid* e, int mode, double proximity);

// mode 1 inside, 2 outside. fuzz 0 means the library default;
// boundary_indicator: 0 only the sign of the boundary distance counts (a
// point exactly on the boundary is kept by both modes); above 0 a point
// within the fuzz is kept by both; below 0 by neither.
int q7_PsetInRset(const DeriveContext& ctx, const cells::Object& points, const cells::Object& region,
                  int mode, double fuzz, int boundary_indicator);

}  // namespace ops

// Simplifying lines and region boundaries (Generalize).
//
// The line simplification is Douglas-Peucker on the sphere: both ends are
// kept; of the vertices between the kept ends, the one farthest from the arc
// between them (its squared chord to the arc, or to the start vertex when its
// foot falls outside the arc) is kept when that exceeds the tolerance, and
// both halves are treated alike. Ties go to the first vertex, so the result
// is the same on every run.
//
// Generalize walks each line or ring of the source in item order across its
// pieces, in windows of 32 consecutive vertices (disjoint; the last one of an
// item may be shorter), simplifies each window and rebuilds the kept vertices
// with the source's items, identifiers and attribute words. A ring left with
// fewer than three vertices is dropped by the builder.
#pragma once

#include <cstdint>
#include <vector>

#include "lib/geodesy/direction_cosines.h"
#include "lib/ops/derive_params.h"

namespace ops {

inline constexpr int kGeneralizeWindow = 32;

// Marks the kept vertices of v[0 .. n) in keep (resized to n); returns their
// number. tolerance is a squared chord.
int SimplifyLine(const geodesy::DirectionCosines* v, int n, double tolerance, std::vector<std::uint8_t>& keep);

// The squared-chord tolerance of a width in metres on the sphere of the mean
// radius (2a + b) / 3.
double GeneralizeTolerance(double width_metres, const geodesy::Ellipsoid& e);

struct GeneralizeCounts {
  std::int64_t before = 0;  // source vertices
  std::int64_t after = 0;   // vertices of the written object
};

// Statuses: 0 done, 11 the source has no vertex, otherwise the builder's
// status + 10 (8 + 10: the output arena is full; 9: no memory).
int q7_Generalize(const DeriveContext& ctx, const cells::Object& source, double tolerance, GeneralizeCounts* counts);

}  // namespace ops

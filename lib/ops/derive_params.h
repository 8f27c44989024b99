// What every derivation operation is given, and the small conversions that
// the derivations share.
//
// DeriveContext: the cell index the sources were built on, the output arena
// laid over the new object file's mapping (nullptr when the caller only wants
// to know whether the result would be empty), the object record to fill, the
// creation time (seconds since 1970, becomes the object's id), the output
// resolution code and the prec value for the header.
//
// Derivation statuses: 0 done, -1 the result is empty (or, without an output
// arena, would be), 1 invalid parameters, 8 the output arena is full, 9 no
// scratch memory. Other positive values belong to particular operations.
//
// Angles are radians; lengths in metres; "squared chord" is the squared
// distance between two unit vectors.
#pragma once

#include <cstdint>

#include "lib/cells/cell_index.h"
#include "lib/cells/object_model.h"
#include "lib/geodesy/ellipsoid.h"
#include "platform/workspace.h"

namespace ops {

inline constexpr int DERIVE_DONE = 0;
inline constexpr int DERIVE_EMPTY = -1;
inline constexpr int DERIVE_BAD_PARAMETERS = 1;
inline constexpr int DERIVE_OUTPUT_FULL = 8;
inline constexpr int DERIVE_NO_WORKSPACE = 9;

// The flag that leaves the datum (attribute) part out of point comparisons.
inline constexpr int DATUM_IGNORED = 64;

struct DeriveContext {
  cells::CellIndex* index = nullptr;
  platform::Workspace* workspace = nullptr;  // scratch (operations may take none)
  platform::Workspace* output = nullptr;     // nullptr: only answer "empty or not"
  cells::Object* object = nullptr;           // the output object to fill
  std::uint32_t created = 0;                 // creation time, stored as the id
  int res = 6;                               // output resolution code
  int prec = 0;
};

// Mean radius (2a + b) / 3 in metres.
inline double MeanRadius(const geodesy::Ellipsoid& e) { return (2.0 * e.a + e.b) / 3.0; }

// The fuzz the planar predicates use: fuzz, or the library default for 0.
double EffectiveFuzz(double fuzz);

// Squared chord of the central angle theta (radians, 0 ... pi): (2 sin(theta/2))^2,
// taken as 4 (1 - cos^2(theta/2)) once theta/2 reaches pi/4 where that form
// loses less.
double ChordSqOfAngle(double theta);

// Radians per metre of the ellipsoid at the unit vector p: 1/b near the
// poles, otherwise (h / cos phi) * sqrt(a^2 cos^2 phi + b^2 sin^2 phi) / a^2,
// phi the geodetic latitude and h the horizontal length of p.
double MetresToRadians(const geodesy::Ellipsoid& e, const geodesy::DirectionCosines& p);

// An output resolution code as the point-set derivations accept it: low byte
// 2 to 11, below 0xFF00, a non-zero high byte only with bit 0 set, and a
// record the object model can store.
bool OutputResValid(int res);

// The low byte of a resolution code with bit 0 cleared: the coordinate form.
inline int CoordinatePart(int res) { return res & 0xFE; }

}  // namespace ops

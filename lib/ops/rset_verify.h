// Checking a region: its boundary legs (crossings, contacts, overlaps, legs
// too short to have a direction) and the nesting of its rings.
//
// A leg reference names a leg as DumpObject numbers the pieces: the ring
// (item number from 0), the piece within the ring, and the leg within the
// piece. Leg j of a piece runs from its vertex j to vertex j + 1; its last leg
// runs to the first vertex of the next piece that has vertices (round the
// ring). A leg belongs to the piece that holds its first vertex, so a leg
// that passes through cells without vertices keeps one reference.
#pragma once

#include <cstdint>

#include "lib/cells/cell_index.h"
#include "lib/cells/object_model.h"
#include "lib/geodesy/direction_cosines.h"
#include "platform/workspace.h"

namespace ops {

struct LegRef {
  std::int32_t ring = 0, piece = 0, leg = 0;
};

// Fault types of the boundary check.
inline constexpr int FAULT_CONTACT = 1;    // the legs meet at an end point that is not their shared vertex
inline constexpr int FAULT_CROSSING = 2;   // the legs cross away from their ends
inline constexpr int FAULT_OVERLAP = 3;    // the legs run along each other
inline constexpr int FAULT_SHORT_LEG = 4;  // a leg not longer than twice the fuzz
inline constexpr int FAULT_UNREADABLE = 5; // the pieces cannot be read

struct BoundaryFault {
  int type = 0;
  LegRef a, b;                    // b is unused for a short leg
  geodesy::DirectionCosines at;   // where it is, for the mark on the map
};

// The short-leg limit (a squared chord) for a fuzz angle; 0 means the
// library default fuzz, whose limit is 9.85470894693946e-16.
double ShortLegLimit(double fuzz);

// The boundary check. The boundary is walked cell by cell and piece by piece;
// each leg no longer than the limit is a short leg; every other leg is crossed
// with every later leg of the same cell (the legs of the cell's chains, cut at
// its polygon, so a leg that only passes the cell is checked there too). Two
// legs that follow each other in a ring are not faulty where they meet. A
// fault seen from two cells is recorded once. Up to `capacity` faults go to
// report (*count of them); the walk ends when it is full.
//
// Returns -1 for a region without boundary, 0 when no fault was found,
// FAULT_UNREADABLE when the pieces cannot be read (one record of that type is
// made), otherwise the type of the last fault recorded.
int q7_RsetVerifyBoundary(cells::CellIndex& idx, const cells::Object& region, double fuzz,
                          BoundaryFault* report, int capacity, int* count);

// The ring topology check. The rings are seen from a point outside the
// region, just to the right of a boundary leg beyond the fuzz. A ring's level
// is the number of other rings whose far side (the side away from that
// point) holds it; a ring of even level must have its far side on its left
// (an outer boundary), one of odd level on its right (a hole). This is the
// same as asking that the point just to the left of every ring lie on the far
// side of an odd number of rings. Rings that break it are listed by item
// number, up to capacity (*count of them).
//
// Returns 0 (consistent, or fewer than 2 rings), 1 (rings listed), 9 (the
// workspace cannot hold the ring tables).
// The workspace the topology check needs for this region (its ring tables,
// every vertex as a unit vector, and boxes of blocks of legs), in bytes.
std::int64_t RsetTopologyWorkspaceBytes(const cells::Object& region);

int q7_RsetVerifyTopology(cells::CellIndex& idx, platform::Workspace& ws, const cells::Object& region,
                          double fuzz, std::int32_t* rings, int capacity, int* count);

}  // namespace ops

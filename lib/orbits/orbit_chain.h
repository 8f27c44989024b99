// The vertex chains of the orbit derivations: the ground track as a line,
// and the strip seen by the sensor as one ring.
//
// Vertices are taken at t = start, start + step, ... and the last exactly at
// end (a step that would pass end, or come within CHAIN_END_SNAP of it, is
// shortened to end). The line's vertices are nadirs, each with its sequence
// number from 0 as attribute. The ring is the right swath points in time
// order followed by the left points in reverse, so its inside (the strip) is
// on the left; the builders close it back to the first right point. Both
// chains end with the item mark 1. A swath whose two limits are equal sees
// no strip: its chain is the mark alone, so the region built is empty.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "lib/cells/object_builder.h"
#include "lib/orbits/orbit_model.h"
#include "platform/workspace.h"

namespace orbits {

inline constexpr double CHAIN_END_SNAP = 0.0001;  // seconds

// The number of vertex times from start to end (inclusive) by step.
int64_t ChainTimeCount(double start, double end, double step);
// The k-th vertex time of the chain.
double ChainTime(double start, double end, double step, int64_t count, int64_t k);

// True when the swath's left and right limits are the same angle.
bool SwathHasNoWidth(const Swath& s);

// Builds the chain: kind 1 the nadir line, 2 the swath ring (swath needed).
// Memory comes from the workspace when the chain fits there, else from heap
// when it is given; 9 when neither holds it. 1 when a point cannot be formed
// or the arguments are unusable; 0 done. nodes receives the chain.
int BuildOrbitChain(const geodesy::Ellipsoid& e, const Orbit& o, const Swath* swath, int kind, double start,
                    double end, double step, platform::Workspace* ws, std::vector<cells::PointNode>* heap,
                    std::span<cells::PointNode>* nodes);

}  // namespace orbits

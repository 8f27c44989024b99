// The numbers that recur throughout the library, each defined once.
//
// Positions are unit vectors; distances between positions are compared as
// squared chords between the vectors, so most tolerances below are squared
// lengths on the unit sphere.
#pragma once

namespace geodesy {

// "Not given", "no point", and in point lists the mark between pieces.
inline constexpr double NOVALUE = -1.79769313486231e308;
// "Off the map": the largest double the map code hands around.
inline constexpr double HUGE_VALUE = 1.7976931348623e308;
// Half of HUGE_VALUE, a safe bound for sums of two large values.
inline constexpr double BIG = 8.9884656743115e307;

// Squared chord below which two unit vectors are the same position; also the
// squared horizontal length below which a point is at a pole for
// latitude/longitude work.
inline constexpr double SAME_POINT_SQ = 2.458e-14;
// Squared length below which a frame's horizontal axis degenerates (poles).
inline constexpr double FRAME_POLE_SQ = 2.458e-22;
// Length at or below which a vector cannot be normalised.
inline constexpr double MIN_NORM_LENGTH = 1.5678e-11;
// Angles, ratios and plane units closer than this are equal.
inline constexpr double EPSILON = 4e-12;
// The library default boundary fuzz, radians: about 0.1 m on a mean radius of
// 6371 km. A fuzz of exactly 0.0 passed to an operation means this value.
inline constexpr double DEFAULT_FUZZ = 1.569610536641133e-8;

// The planar hull and TIN construction (lib/ops/q2hull, lib/ops/q2mtin).
// Tolerance of the signed-area tests of the TIN's triangle search.
inline constexpr double TIN_EDGE_CRITERION = 2.458e-14;
// Tolerance of the planar hull's turn tests.
inline constexpr double HULL_EDGE_CRITERION = 2.458e-14;
// Circumcircle test: below this the squared determinant (relative to the
// quad's size) is taken as co-circular and no swap is made.
inline constexpr double TIN_FUZZCC = 2.458e-14;
// Two plane points closer than this squared distance are one point.
inline constexpr double TIN_DISTANCE_SQ = 5e-12;
// The metres that TIN_DISTANCE_SQ stands for on the ground (about 14.246 m).
inline constexpr double TIN_EARTH_RADIUS_M = 6371007.1808;
// Depth of nested edge swaps after one insertion.
inline constexpr int TIN_RECURSION_LIMIT = 64;

// The library release; object and index files carry stamps 300 to 360.
inline constexpr int LIBRARY_RELEASE = 360;
inline constexpr int OLDEST_RELEASE = 300;

}  // namespace geodesy

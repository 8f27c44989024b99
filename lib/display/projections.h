// The map projections: codes, names, parameter blocks, forward and inverse.
//
// All projection mathematics works on the unit sphere. A position is a unit
// DirectionCosines vector; plane coordinates (X, Y) are in units of the
// sphere's radius, X growing east and Y north at the map centre. The
// ellipsoid enters only later, through the radius that turns a map scale into
// plane units per pixel (map_geometry.h).
//
// Each projection has one source file, proj_<name>.cpp, of the same shape: a
// set-up that checks the centre and fills the projection's parameter block, a
// forward mapping and an inverse mapping. A parameter block is computed once
// at set-up and only read afterwards.
//
// Statuses of the forward mapping: 0 on the map; 1 cannot be projected (the
// stereographic antipode, a pole on a cylinder, the far side of a gnomonic
// map); -1 projected but not visible (behind the orthographic horizon,
// outside a perspective view), with the plane coordinates still filled.
// Statuses of the inverse mapping: 0 a point, 1 no point there, -1 a point
// off the tiles (tileset only). Both return 3 for a code that has no mapping
// here (0, unused codes).
#pragma once

#include <cstdint>
#include <string_view>

#include "lib/geodesy/direction_cosines.h"
#include "lib/geodesy/tangent_frame.h"

namespace display {

using geodesy::DirectionCosines;

// Projection codes. Codes 7, 8, 9 and 14 to 18 are unused.
inline constexpr uint32_t PROJ_NONE = 0;        // "noprojection": no geometry yet
inline constexpr uint32_t PROJ_STEREO = 1;      // stereographic, tangent plane at the centre
inline constexpr uint32_t PROJ_ORTHO = 2;       // orthographic, the globe seen from infinity
inline constexpr uint32_t PROJ_WWMERC = 3;      // world-wide Mercator (tabulated ordinate)
inline constexpr uint32_t PROJ_GNOMONIC = 4;    // gnomonic, tangent plane at the centre
inline constexpr uint32_t PROJ_CONICAL = 5;     // equidistant conic, standard parallel at the centre
inline constexpr uint32_t PROJ_MERCATOR = 6;    // Mercator true along the centre's parallel
inline constexpr uint32_t PROJ_PERSPECT = 10;   // vertical perspective from a finite height
inline constexpr uint32_t PROJ_WWVIEW = 11;     // world-wide perspective cylindrical
inline constexpr uint32_t PROJ_EQDISTCYL = 12;  // equidistant cylindrical true at the centre's parallel
inline constexpr uint32_t PROJ_WWPLTCRR = 13;   // world-wide plate carree
inline constexpr uint32_t PROJ_TILESET = 19;    // table-driven cylinder of a tileset

// The world-wide projections show the whole earth and ignore all of the
// centre but its longitude.
inline bool IsWorldWide(uint32_t code) { return (code & ~8u) == PROJ_WWMERC || code == PROJ_WWPLTCRR; }
// Projections whose scale follows from the window (ReScale refuses them).
inline bool IsFixedScale(uint32_t code) { return IsWorldWide(code) || code == PROJ_TILESET; }

// The name of a code: the word the commands accept and print, or "" for a
// code not in the table (the tileset has no name).
std::string_view ProjectionName(uint32_t code);
// Name recognition: the table word that the given word begins with (lower
// case only; "stereographic" selects stereo). Returns -1 for a word that
// matches no name; perspect and the tileset are never recognised.
int RecogniseProjection(std::string_view word);

// --- Parameter blocks -------------------------------------------------------

// stereo and gnomonic: the tangent frame about the centre c (east (ex, ey, 0)
// and north (nx, ny, nz), unit vectors orthogonal to c) and rho2 = cx^2 + cy^2.
struct TangentParams {
  geodesy::TangentFrame frame;
  double rho2;
};

// ortho: centre c, up vector, east E' = normalise(up x c), north N' = c x E',
// and a plane offset d (always 0).
struct OrthoParams {
  DirectionCosines c, up, east, north;
  double d;
};

// conical: centre c, its longitude lon0 and latitude lat0 (radians), the
// radius sum lat0 + rho0, the cone constant n = cz and rho0 = cot(lat0).
struct ConicalParams {
  DirectionCosines c;
  double lon0, lat0, lat0_plus_rho0, n, rho0;
};

// mercator: centre c, lon0, the centre's Mercator ordinate y0, and the scale
// factor k = cos(latitude of c) that makes the map true along that parallel.
struct MercatorParams {
  DirectionCosines c;
  double lon0, y0, k;
};

// eqdistcyl: centre c, lon0, the centre's latitude lat0 and k as mercator.
struct EqDistCylParams {
  DirectionCosines c;
  double lon0, lat0, k;
};

// wwmerc, wwview, wwpltcrr: m, the unit vector of the central meridian on the
// equator, its opposite, and the central longitude lon0 in [-pi, pi].
struct WorldParams {
  DirectionCosines m, opposite;
  double lon0;
};

// perspect: the forward mapping is a ratio of two linear forms,
//   X = (k0 px + k1 py + k2 pz - k3) / w,  Y = (k4 px + k5 py + k6 pz - k7) / w,
//   w = k8 px + k9 py + k10 pz - k11,
// and a point whose squared chord to g exceeds k12 is beyond the horizon.
// The set-up here builds a vertical perspective: the eye on the line through
// the centre c at `distance` radii from the earth's centre, the picture plane
// tangent at c. up, east and north as for ortho; three doubles are spare.
struct PerspectParams {
  double k[13];
  DirectionCosines g;
  double distance;
  double spare[2];
};

// tileset: a cylinder whose Y is piecewise linear in the geocentric latitude,
// every band of the latitude table t[0] < t[1] < ... < t[n] taking the same
// plane height h = (t[n] - t[0]) / n. X = wrap(lon - lon0) * k - x0 with
// k = cos((t[0] + t[n]) / 2); (x0, y0) are the plane coordinates of the
// chosen centre, so that it maps to the origin. Points further than
// half_width in longitude from lon0, or outside the table's latitudes, are
// projected with status -1 (off the tiles). The table holds at most
// TILESET_MAX_BANDS bands; a block with n < 1 projects nothing (status 1).
inline constexpr int TILESET_MAX_BANDS = 256;
struct TilesetParams {
  DirectionCosines c;  // the centre the offsets were taken from
  double lon0, half_width, k, x0, y0;
  int32_t n;
  int32_t spare;
  double t[TILESET_MAX_BANDS + 1];
};

// The parameter block of any projection; the projection code says which member
// is in use. Its allocated size per projection is the size of that member.
union ProjectionParams {
  ProjectionParams() : perspect{} {}  // the largest member, all zero
  TangentParams tangent;
  OrthoParams ortho;
  ConicalParams conical;
  MercatorParams mercator;
  EqDistCylParams eqdistcyl;
  WorldParams world;
  PerspectParams perspect;
  TilesetParams tileset;
};

static_assert(sizeof(TangentParams) == 72);
static_assert(sizeof(OrthoParams) == 104);
static_assert(sizeof(WorldParams) == 56);
static_assert(sizeof(ConicalParams) == 64);
static_assert(sizeof(MercatorParams) == 48);
static_assert(sizeof(EqDistCylParams) == 48);
static_assert(sizeof(PerspectParams) == 152);

// The viewing distance of the perspective view, in earth radii from the
// earth's centre: the height of a geostationary orbit.
inline constexpr double PERSPECT_DISTANCE = 6.6107;

// Bytes of the parameter block of a code (0 for a code not set up here).
size_t ParamBlockSize(uint32_t code);

// --- Set-up, forward and inverse per projection ------------------------------
// A set-up returns 0, or a positive refusal status with the block unspecified.

int SetUpTangent(const DirectionCosines& c, TangentParams* p);  // stereo and gnomonic
int StereoForward(const TangentParams& p, const DirectionCosines& u, double* X, double* Y);
// StereoForward's refusal alone: u at the antipode of the centre.
bool StereoRefuses(const TangentParams& p, const DirectionCosines& u);
int StereoInverse(const TangentParams& p, double X, double Y, DirectionCosines* u);
int GnomonicForward(const TangentParams& p, const DirectionCosines& u, double* X, double* Y);
int GnomonicInverse(const TangentParams& p, double X, double Y, DirectionCosines* u);

// up may be null: north is up (with fixed substitutes at the poles).
int SetUpOrtho(const DirectionCosines& c, const DirectionCosines* up, OrthoParams* p);
int OrthoForward(const OrthoParams& p, const DirectionCosines& u, double* X, double* Y);
int OrthoInverse(const OrthoParams& p, double X, double Y, DirectionCosines* u);

// Refuses with 1 a centre within about 5 degrees of the equator (|cz| < 0.09)
// and with 2 a centre at a pole.
int SetUpConical(const DirectionCosines& c, ConicalParams* p);
int ConicalForward(const ConicalParams& p, const DirectionCosines& u, double* X, double* Y);
int ConicalInverse(const ConicalParams& p, double X, double Y, DirectionCosines* u);

// Both refuse with 1 a centre within about 1 degree of a pole.
int SetUpMercator(const DirectionCosines& c, MercatorParams* p);
int MercatorForward(const MercatorParams& p, const DirectionCosines& u, double* X, double* Y);
int MercatorInverse(const MercatorParams& p, double X, double Y, DirectionCosines* u);
int SetUpEqDistCyl(const DirectionCosines& c, EqDistCylParams* p);
int EqDistCylForward(const EqDistCylParams& p, const DirectionCosines& u, double* X, double* Y);
int EqDistCylInverse(const EqDistCylParams& p, double X, double Y, DirectionCosines* u);

// The world-wide set-up uses only the centre's longitude; c may be null.
int SetUpWorld(const DirectionCosines* c, WorldParams* p);
int WwMercForward(const WorldParams& p, const DirectionCosines& u, double* X, double* Y);
int WwMercInverse(const WorldParams& p, double X, double Y, DirectionCosines* u);
int WwViewForward(const WorldParams& p, const DirectionCosines& u, double* X, double* Y);
int WwViewInverse(const WorldParams& p, double X, double Y, DirectionCosines* u);
int WwPltCrrForward(const WorldParams& p, const DirectionCosines& u, double* X, double* Y);
int WwPltCrrInverse(const WorldParams& p, double X, double Y, DirectionCosines* u);

// The 76-entry ordinate table of wwmerc: entry i is round(10000 atanh(z_i))
// for z_i = 0.025 i (i <= 36) and 0.9 + 0.0025 (i - 36) (i > 36); the last
// entry is held at 32766 so that it fits 16 bits.
extern const int16_t WWMERC_TABLE[76];
// The plane heights of the world-wide maps (2 pi wide).
inline constexpr double WWMERC_HEIGHT = 4.042205743649478;
inline constexpr double WWVIEW_HEIGHT = 4.71238898038469;  // 3 pi / 2
inline constexpr double WWPLTCRR_HEIGHT = 3.141592653589793;
double WorldPlaneHeight(uint32_t code);

// Vertical perspective from `distance` radii (> 1) about c; up as for ortho.
int SetUpPerspect(const DirectionCosines& c, const DirectionCosines* up, double distance,
                  PerspectParams* p);
int PerspectForward(const PerspectParams& p, const DirectionCosines& u, double* X, double* Y);

// The tileset set-up: lon0, the width of the tiles in longitude, the n + 1
// latitudes (geocentric, radians, strictly ascending within [-pi/2, pi/2]),
// and the centre (null: the table's first latitude on lon0, offsets 0).
// Refuses with 1 a table of fewer than one or more than TILESET_MAX_BANDS
// bands, not ascending, or a width not in (0, 2 pi], and with 2 a centre
// that does not project.
int SetUpTileset(double lon0, double width, const double* table, int n,
                 const DirectionCosines* centre, TilesetParams* p);
int TilesetForward(const TilesetParams& p, const DirectionCosines& u, double* X, double* Y);
int TilesetInverse(const TilesetParams& p, double X, double Y, DirectionCosines* u);

// --- Dispatch by code --------------------------------------------------------

// Fills the block for a code about centre c. Returns 0, a refusal status of
// the projection, or 3 for a code not set up here.
int SetUpProjection(uint32_t code, const DirectionCosines& c, const DirectionCosines* up,
                    ProjectionParams* p);
int ProjectForward(const ProjectionParams& p, uint32_t code, const DirectionCosines& u, double* X,
                   double* Y);
// True when ProjectForward takes u (its status would be 0), without the
// plane point where that costs less: the stereographic projection refuses
// only the antipode of its centre.
bool ProjectForwardAccepts(const ProjectionParams& p, uint32_t code, const DirectionCosines& u);
int ProjectInverse(const ProjectionParams& p, uint32_t code, double X, double Y,
                   DirectionCosines* u);

// An angle brought into [-pi, pi] by adding or subtracting 2 pi once.
inline double WrapAngle(double a) {
  constexpr double kPi = 3.141592653589793, kTwoPi = 6.283185307179586;
  if (a > kPi) return a - kTwoPi;
  if (a < -kPi) return a + kTwoPi;
  return a;
}

}  // namespace display

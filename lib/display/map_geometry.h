// The map geometry: where on the globe a map is centred, at what scale, under
// which projection, and how projection-plane coordinates relate to the device
// units (pixels or plotter units) of an output frame.
//
// Units: plane coordinates are units of the sphere's radius (projections.h);
// device coordinates are signed 32-bit integers; pixel sizes are metres; the
// scale is the map scale denominator (10e6 is 1:10,000,000).
//
// DeviceFrame: two opposite corners of the output area, the first the lower
// left corner as seen on the output, the second the upper right. On a screen,
// where device y grows downwards, a client area [left, right) x [top, bottom)
// is the frame (left, bottom - 1, right - 1, top).
//
// rot-ref: 0 to 8; bit value 4 mirrors the plane's y axis, bit value 8 the x
// axis, the other bits have no effect.
//
// A MapGeometry is built whole by SetUpMapGeometry and never changed in place
// (except that a visible-cell slot may be rebuilt for another cell index); a
// new geometry is a new record, and the owner releases the old one after the
// new one succeeded. A record whose projection is PROJ_NONE holds nothing.
#pragma once

#include <cstddef>
#include <cstdint>

#include "lib/cells/object_builder.h"
#include "lib/display/projections.h"
#include "lib/geodesy/direction_cosines.h"
#include "lib/geodesy/ellipsoid.h"

namespace platform {
struct Workspace;
}

namespace display {

struct DeviceFrame {
  int32_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

struct PixelPoint {
  int32_t x = 0, y = 0;
};

// Plane units per device unit along x and y (signed: negative when the frame
// runs backwards along that axis, negated again by the rot-ref mirrors),
// their inverses, the offsets of the plane origin, and the centre device
// point plus one half.
struct PixelTransform {
  double sx = 0.0, inv_sx = 0.0, sy = 0.0, inv_sy = 0.0;
  double ox = 0.0, oy = 0.0, px0 = 0.0, py0 = 0.0;
};

// Device points further out than this are clamped, so that far-off plane
// points still give integers that are safe to add and subtract.
inline constexpr double DEVICE_CLAMP = 1610612735.0;  // 0x5FFFFFFF

// The transform for plane units per device unit |sx|, |sy| (signs already
// given for the frame's direction) about the frame's centre, with rot-ref.
PixelTransform MakePixelTransform(const DeviceFrame& frame, double sx, double sy,
                                  uint32_t rot_ref);
// The plane point at the centre of a device point, and at its far corner
// (x + 1, y + 1).
void DeviceToPlane(const PixelTransform& t, int32_t x, int32_t y, double* X, double* Y);
void DeviceCornerToPlane(const PixelTransform& t, int32_t x, int32_t y, double* X, double* Y);
// The device point holding a plane point (clamped, truncated towards zero),
// and the same without truncation.
PixelPoint PlaneToDevice(const PixelTransform& t, double X, double Y);
void PlaneToDeviceExact(const PixelTransform& t, double X, double Y, double* x, double* y);

// One visible-cell slot: the CellList (word 0 the number of words, ascending
// cell numbers, a negative word closing a range) of the cells that can show
// anything in the frame, for the cell index whose identity is index_id.
struct VisibleCells {
  int32_t* list = nullptr;  // owned; null when the slot is empty
  uint32_t index_id = 0;
};
inline constexpr int VISIBLE_SLOTS = 64;

struct MapGeometry {
  DeviceFrame frame;                       // possibly trimmed (world-wide maps)
  int32_t xmin = 0, ymin = 0, xmax = 0, ymax = 0;  // the frame, each pair ordered
  double plane_width = 0.0, plane_height = 0.0;   // the frame's extent in plane units
  double scale = 0.0;                      // scale denominator
  ProjectionParams* params = nullptr;      // owned
  PixelTransform transform;
  const geodesy::Ellipsoid* ellipsoid = nullptr;  // not owned
  VisibleCells visible[VISIBLE_SLOTS];     // slot 0 serves the loaded cell index
  uint32_t projection = PROJ_NONE;
  uint32_t rot_ref = 0;
  DirectionCosines centre;                 // the centre the geometry was built about
  int32_t current_pen = -1;                // drawing state: no pen selected yet
  // The point buffer that batches polylines: capacity, fill count, points.
  int32_t point_capacity = 0;
  int32_t point_count = 0;
  PixelPoint* points = nullptr;            // owned, point_capacity entries
  // Where the owned blocks came from: an alternative arena, or the checked
  // heap when null. Blocks of an arena are given back with the arena.
  platform::Workspace* arena = nullptr;
};

// Set-up codes.
inline constexpr int MAPGEOM_OK = 0;
inline constexpr int MAPGEOM_PARAMETER = 1;     // ellipsoid, pixel size, frame, capacity, scale
inline constexpr int MAPGEOM_REFUSED = 2;       // centre refused, plane units, corner not invertible
inline constexpr int MAPGEOM_CONICAL_EQUATOR = 3;
inline constexpr int MAPGEOM_NOT_HERE = -1;     // projection code not set up here
inline constexpr int MAPGEOM_NO_MEMORY = 8;
inline constexpr int MAPGEOM_NO_HEMISPHERE_MEMORY = 9;

// Scale limits of the set-up.
inline constexpr double MIN_SCALE = 499.999, MAX_SCALE = 5.00001e8;
inline constexpr double MIN_ORTHO_SCALE = 1e6, MAX_ORTHO_SCALE = 1e9;
inline constexpr double MIN_PIXEL_SIZE = 4e-12;  // metres; also the least plane units per pixel
inline constexpr int32_t MIN_FRAME = 8;          // device units
inline constexpr int32_t MIN_POINT_CAPACITY = 16;

// Everything SetUpMapGeometry needs besides the record and the memory.
struct GeometrySpec {
  uint32_t projection = PROJ_STEREO;
  uint32_t rot_ref = 0;
  DirectionCosines centre{1.0, 0.0, 0.0};
  const DirectionCosines* up = nullptr;  // ortho and perspect; null: north is up
  double scale = 10e6;                   // NOVALUE for a world-wide map stretched to the frame
  double pixel_width = 0.0, pixel_height = 0.0;  // metres per device unit
  DeviceFrame frame;
  int32_t point_capacity = 512;
};

// Builds g for the request in spec. index: build the visible-cell list of slot 0 for it
// (may be null). workspace: scratch memory for the cell lists (may be null:
// the heap is used). arena: where the record's blocks come from (null: the
// checked heap). Returns a set-up code; on failure g is left cleared and
// nothing stays allocated.
int SetUpMapGeometry(cells::CellIndex* index, platform::Workspace* workspace,
                     platform::Workspace* arena, const geodesy::Ellipsoid* ellipsoid,
                     const GeometrySpec& spec, MapGeometry* g);

// Frees every visible-cell list (clearing the slots), the parameter block and
// the point buffer, and leaves g cleared.
void ReleaseMapGeometry(MapGeometry* g);

// Builds the visible-cell list of a slot for an index, replacing what the
// slot held. Returns 0, 8 (no memory for the list), 9 (no memory for the
// hemisphere list of ortho) or -1 (no list for this projection: perspect,
// or a slot out of range).
int BuildVisibleCells(cells::CellIndex* index, platform::Workspace* workspace, MapGeometry* g,
                      int slot);

// Geocentric radius of the ellipsoid in the direction c, metres.
double GeocentricRadius(const geodesy::Ellipsoid& e, const DirectionCosines& c);

// The window outline: a ring of points around what the map shows, inside on
// the left (counterclockwise seen from above; the order is reversed when
// rot-ref mirrors one axis), for the region of the visible map. ortho: 180 points on the circle of radius 0.99
// in the plane. stereo, gnomonic, conical, mercator, eqdistcyl: 12 points
// inverse-projected from the frame's corners and edge midpoints and quarter
// points, starting at (x1, y0) and running through (x1, y1), (x0, y1),
// (x0, y0). World-wide maps: 12 points at latitudes -80, 0 and 80 degrees
// about the map's edge meridian (opposite the central one), where the map
// wraps, so that the ring encloses what the map shows. Points are written to out (capacity at least
// WINDOW_OUTLINE_MAX) in order; returns the number written, 0 for a
// projection without an outline (perspect, or no geometry).
inline constexpr int WINDOW_OUTLINE_MAX = 180;
int WindowOutline(const MapGeometry& g, DirectionCosines* out);

// The region of the visible map: the window outline as one ring, inside on
// the left, built into an Rset in target with the given header fields.
// Returns the builder's status (0 done, -1 empty, 8 no room, 9 no scratch
// memory), or 1 when the map has no outline.
int q7_RsetWindow(cells::CellIndex& idx, const MapGeometry& g, cells::SectionTarget target,
                  const cells::BuildParams& params, cells::Object& out);

}  // namespace display

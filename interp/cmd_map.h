// The map window's geometry and its commands: Geometry, CenterOn, ReScale,
// MapFieldSize, MapFieldAspect, ReportMapField, ReportMapGeometry, and
// DeriveRsetWindow, the region of the visible map.
//
// The map window owns one MapGeometry (osb->map_geometry), absent until the
// first successful application. Every change builds a complete new record
// for the window's client area and replaces the old one only on success, so
// a failed command leaves the map as it was.
//
// The client area: while there is no window system the map window is the
// off-screen one, a client area of the start-up size (map.position on the
// virtual 1920 x 1080 screen) that MapFieldSize and MapFieldAspect resize.
#pragma once

#include <cstdint>
#include <string>

#include "interp/global.h"
#include "lib/geodesy/direction_cosines.h"

namespace display {
struct MapGeometry;
}

namespace interp {

// What the map should show.
struct GeometryRequest {
  uint16_t projection = 1;
  uint16_t rot_ref = 0;
  double scale = 10e6;  // NOVALUE allowed for the world-wide projections
  geodesy::DirectionCosines centre;
};

// The map window's place and client area in screen pixels.
struct MapField {
  int left = 0, top = 0;
  int width = 0, height = 0;  // client area
};

// The client area now (the start-up one until it is changed).
MapField CurrentMapField(GlobalBlock& g);

// Builds a geometry for the client area and installs it. Returns 0 or the
// set-up code; on failure reports it ("Parameter list assertion", "Invalid
// map geometry specs", "Map window memory shortfall") with its error level,
// and the map keeps its old geometry.
int ApplyMapGeometry(GlobalBlock& g, const GeometryRequest& request);

// Tileset maps (projection 19) are built by the tileset commands: the
// builder makes a geometry for a client area about a centre and returns a
// set-up code (0 done). ApplyMapGeometry hands a tileset request to it, so
// resizing and re-centring a tileset map keep its geometry. Without a
// builder a tileset request fails with -1.
using TilesetGeometryBuilder = int (*)(GlobalBlock& g, const geodesy::DirectionCosines& centre,
                                       int width, int height, display::MapGeometry* out);
void SetTilesetGeometryBuilder(TilesetGeometryBuilder builder);

// The request that built the current geometry, or the initial values of the
// initialisation file when the map has none.
GeometryRequest CurrentGeometryRequest(GlobalBlock& g);

// The geometry description line: latitude, longitude, scale, projection.
std::string GeometryDescription(GlobalBlock& g);

// Applies the initial values at start-up: false (the caller shows the box
// "Map geometry?") when they give no geometry.
bool ApplyInitialMapGeometry(GlobalBlock& g);

// The map window's size handling: the client area becomes width x height and
// the geometry is rebuilt for it from the current request. On failure the
// map is left without geometry and "Map geometry error: %d" is reported.
void ResizeMapField(GlobalBlock& g, const MapField& field);

// Releases the map window's geometry (at the end of the run).
void ReleaseMapWindowGeometry(GlobalBlock& g);

void CmdGeometry(GlobalBlock& g, const char* args, int variant, int mode);
void CmdCenterOn(GlobalBlock& g, const char* args, int variant, int mode);
void CmdReScale(GlobalBlock& g, const char* args, int variant, int mode);
// Variant 1: MapFieldSize; variant 2: MapFieldAspect.
void CmdMapField(GlobalBlock& g, const char* args, int variant, int mode);
// Variant 1: ReportMapGeometry; variant 3: ReportMapField.
void CmdReportMap(GlobalBlock& g, const char* args, int variant, int mode);

// DeriveRsetWindow "nameNew [resolution]": the region of the visible map.
void CmdDeriveRsetWindow(GlobalBlock& g, const char* args, int variant, int mode);

inline constexpr int MAP_FIELD_SIZE = 1;
inline constexpr int MAP_FIELD_ASPECT = 2;
inline constexpr int REPORT_MAP_GEOMETRY = 1;
inline constexpr int REPORT_MAP_FIELD = 3;

}  // namespace interp

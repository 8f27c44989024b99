// ReCenter and ReFrame: the map geometry changed by pointing at the map.
//
// ReCenter takes one click for the new centre. ReFrame takes the new centre
// and then an edge point: while the pointer moves, the frame the map would
// show is outlined in exclusive-or (96 points: each side of the window's
// rectangle cut into 24, laid out in a temporary projection about the new
// centre and drawn through the current map). Two outlines are kept so that
// drawing the new one and the old one again leaves only the new one.
#include "interp/cmd_reframe.h"

#include <cmath>
#include <vector>

#include "interp/cmd_draw.h"
#include "interp/cmd_map.h"
#include "interp/handlers.h"
#include "interp/map_modes.h"
#include "interp/messages.h"
#include "lib/display/map_geometry.h"
#include "lib/display/projections.h"
#include "lib/geodesy/ellipsoid.h"

namespace interp {

namespace {

using geodesy::DirectionCosines;

constexpr double kMinScale = 1000.0, kMaxScale = 5e8;
constexpr int kSidePoints = 24;

// Puts the new geometry in place: the old picture no longer fits it.
bool Apply(GlobalBlock& g, const GeometryRequest& r) {
  const int code = ApplyMapGeometry(g, r);
  if (code != 0) {
    PostText(4, "New map geometry error: %d", code);
    g.error_level = EL_FAILURE;
    return false;
  }
  display::ClearDisplaySurface(&Display(g).surface);
  PostText(2, "%s", GeometryDescription(g).c_str());
  return true;
}

// ---------------------------------------------------------------- ReCenter

void RecenterAt(GlobalBlock& g, int x, int y) {
  DirectionCosines u;
  if (!PixelToPosition(g, x, y, &u)) {
    ModeBeep(g);
    return;
  }
  GeometryRequest r = CurrentGeometryRequest(g);
  r.centre = u;
  Apply(g, r);
  EndMapMode(g);
}

void RecenterPress(GlobalBlock& g, const ModeEvent& e) {
  if (e.button == 1) RecenterAt(g, e.x, e.y);
}

void RecenterMove(GlobalBlock& g, const ModeEvent& e) {
  if (e.left_down) RecenterAt(g, e.x, e.y);
}

const MapModeSpec kRecenterMode = {"re-centre",   MODE_RECENTER, kCornerIgnored, platform::kPointerCross,
                                   RecenterMove, RecenterPress, nullptr,        nullptr,
                                   nullptr};

// ---------------------------------------------------------------- ReFrame

struct FrameState {
  DirectionCosines centre;
  uint32_t temp_code = display::PROJ_STEREO;
  display::ProjectionParams temp;
  std::vector<DirectionCosines> outline;  // the outline shown, empty: none
  int shown_x = 0, shown_y = 0;
};
FrameState g_frame;

// The temporary projection about the new centre: the map's own for
// gnomonic, conical, mercator and eqdistcyl, stereo for the others.
void SetUpTemporary(GlobalBlock& g) {
  const uint32_t code = g.map_geometry ? g.map_geometry->projection : display::PROJ_STEREO;
  uint32_t temp = display::PROJ_STEREO;
  if (code == display::PROJ_GNOMONIC || code == display::PROJ_CONICAL || code == display::PROJ_MERCATOR ||
      code == display::PROJ_EQDISTCYL)
    temp = code;
  g_frame.temp = display::ProjectionParams();
  if (display::SetUpProjection(temp, g_frame.centre, nullptr, &g_frame.temp) != 0) {
    // A centre that projection refuses (the equator for conical, a pole for
    // the cylinders) is framed in stereo.
    temp = display::PROJ_STEREO;
    g_frame.temp = display::ProjectionParams();
    display::SetUpProjection(temp, g_frame.centre, nullptr, &g_frame.temp);
  }
  g_frame.temp_code = temp;
}

// The frame factor f for the pointer at (x, y): false when its point is
// (almost) the antipode of the new centre or does not project. width_limits
// tells whether the window's width decides the frame.
bool FrameFactor(GlobalBlock& g, int x, int y, double* f, bool* width_limits) {
  DirectionCosines p;
  if (!PixelToPosition(g, x, y, &p)) return false;
  if (geodesy::Dot(g_frame.centre, p) < -0.975) return false;
  double X, Y;
  if (display::ProjectForward(g_frame.temp, g_frame.temp_code, p, &X, &Y) != 0) return false;
  const double wm = ModeClientWidth(g) * g.settings.pixel_width_m;
  const double vm = ModeClientHeight(g) * g.settings.pixel_height_m;
  if (!(wm > 0) || !(vm > 0)) return false;
  const double fw = std::fabs(2 * X) / wm, fh = std::fabs(2 * Y) / vm;
  *width_limits = fw >= fh;
  *f = std::max(fw, fh);
  return std::isfinite(*f);  // 0 at the centre itself: the range check refuses it
}

// The 96 outline points of the frame of factor f.
std::vector<DirectionCosines> Outline(GlobalBlock& g, double f) {
  const double hx = f * ModeClientWidth(g) * g.settings.pixel_width_m / 2;
  const double hy = f * ModeClientHeight(g) * g.settings.pixel_height_m / 2;
  const double corners[5][2] = {{hx, -hy}, {hx, hy}, {-hx, hy}, {-hx, -hy}, {hx, -hy}};
  std::vector<DirectionCosines> out;
  out.reserve(4 * kSidePoints);
  for (int side = 0; side < 4; ++side)
    for (int i = 0; i < kSidePoints; ++i) {
      const double t = (double)i / kSidePoints;
      const double X = corners[side][0] + t * (corners[side + 1][0] - corners[side][0]);
      const double Y = corners[side][1] + t * (corners[side + 1][1] - corners[side][1]);
      DirectionCosines u;
      if (display::ProjectInverse(g_frame.temp, g_frame.temp_code, X, Y, &u) == 0) out.push_back(u);
    }
  return out;
}

void EraseOutline(GlobalBlock& g) {
  if (g_frame.outline.empty()) return;
  ModeXorPolyline(g, g_frame.outline.data(), (int)g_frame.outline.size(), true);
  g_frame.outline.clear();
}

void ReframePress(GlobalBlock& g, const ModeEvent& e) {
  if (e.button != 1) return;
  if (MapModeStep() == 1) {
    if (!PixelToPosition(g, e.x, e.y, &g_frame.centre)) {
      ModeBeep(g);
      return;
    }
    SetUpTemporary(g);
    g_frame.shown_x = e.x;
    g_frame.shown_y = e.y;
    PostText(2, "Next, click on any edge point or press <ESC>");
    SetModeStep(2);
    return;
  }
  double f;
  bool width_limits;
  if (!FrameFactor(g, e.x, e.y, &f, &width_limits)) {
    ModeBeep(g);
    return;
  }
  const double scale = geodesy::MeanRadius(*g.ellipsoid) * f;
  if (scale < kMinScale || scale > kMaxScale) {
    ModeBeep(g);
    PostText(4, "scale range %g < scale < %g)", kMinScale, kMaxScale);
    return;
  }
  EraseOutline(g);
  GeometryRequest r = CurrentGeometryRequest(g);
  r.centre = g_frame.centre;
  r.scale = scale;
  if (!Apply(g, r)) ModeBeep(g);
  EndMapMode(g);
}

void ReframeMove(GlobalBlock& g, const ModeEvent& e) {
  if (MapModeStep() < 2) return;
  const int c = g.settings.coincident_pixel_count;
  if (std::abs(e.x - g_frame.shown_x) <= c && std::abs(e.y - g_frame.shown_y) <= c) return;
  double f;
  bool width_limits;
  if (!FrameFactor(g, e.x, e.y, &f, &width_limits)) return;
  std::vector<DirectionCosines> next = Outline(g, f);
  ModeXorPolyline(g, next.data(), (int)next.size(), true);
  EraseOutline(g);
  g_frame.outline = std::move(next);
  g_frame.shown_x = e.x;
  g_frame.shown_y = e.y;
  SetModePointer(width_limits ? platform::kPointerSizeWE : platform::kPointerSizeNS);
  SetModeStep(3);
}

void ReframeKey(GlobalBlock& g, int key) {
  if (key != 27) {
    ModeBeep(g);
    return;
  }
  EraseOutline(g);
  EndMapMode(g);
}

void ReframeEnd(GlobalBlock&) { g_frame = FrameState(); }

const MapModeSpec kReframeMode = {"re-frame",   MODE_REFRAME, kCornerIgnored, platform::kPointerCross, ReframeMove,
                                  ReframePress, nullptr,      ReframeKey,     ReframeEnd};

bool NeedsMap(GlobalBlock& g) {
  if (CurrentGeometry(g)) return true;
  PostText(3, "No map open?");
  g.error_level = EL_NOT_APPLICABLE;
  return false;
}

}  // namespace

void CmdReCenter(GlobalBlock& g, const char* args, int, int) {
  if (IsUsageRequest(args)) {
    PostText(2, " ");
    return;
  }
  if (!NeedsMap(g)) return;
  PostText(2, "Click on new center or press <ESC>");
  StartMapMode(g, kRecenterMode);
}

void CmdReFrame(GlobalBlock& g, const char* args, int, int) {
  if (IsUsageRequest(args)) {
    PostText(2, " ");
    return;
  }
  if (!NeedsMap(g)) return;
  if (g.map_geometry->projection == display::PROJ_TILESET) {
    PostText(4, "Fixed-frame map");
    g.error_level = EL_FAILURE;
    return;
  }
  PostText(2, "Click on new center or press <ESC>");
  g_frame = FrameState();
  StartMapMode(g, kReframeMode);
}

}  // namespace interp

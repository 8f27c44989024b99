// The projection table, name recognition, the world-wide set-up shared by
// the three world maps, and dispatch by projection code to the per-projection
// files (proj_*.cpp).
#include "lib/display/projections.h"

#include <cmath>

#include "lib/geodesy/constants.h"

namespace display {
namespace {

struct ProjectionEntry {
  uint32_t code;
  std::string_view name;
  bool recognised;  // returned by name recognition
};

constexpr ProjectionEntry kTable[] = {
    {PROJ_NONE, "noprojection", true}, {PROJ_STEREO, "stereo", true},
    {PROJ_ORTHO, "ortho", true},       {PROJ_WWMERC, "wwmerc", true},
    {PROJ_GNOMONIC, "gnomonic", true}, {PROJ_CONICAL, "conical", true},
    {PROJ_MERCATOR, "mercator", true}, {PROJ_PERSPECT, "perspect", false},
    {PROJ_WWVIEW, "wwview", true},     {PROJ_EQDISTCYL, "eqdistcyl", true},
    {PROJ_WWPLTCRR, "wwpltcrr", true},
};

}  // namespace

std::string_view ProjectionName(uint32_t code) {
  for (const ProjectionEntry& e : kTable) {
    if (e.code == code) return e.name;
  }
  return {};
}

int RecogniseProjection(std::string_view word) {
  for (const ProjectionEntry& e : kTable) {
    if (e.recognised && word.size() >= e.name.size() && word.substr(0, e.name.size()) == e.name) {
      return static_cast<int>(e.code);
    }
  }
  return -1;
}

size_t ParamBlockSize(uint32_t code) {
  switch (code) {
    case PROJ_STEREO:
    case PROJ_GNOMONIC: return sizeof(TangentParams);
    case PROJ_ORTHO: return sizeof(OrthoParams);
    case PROJ_CONICAL: return sizeof(ConicalParams);
    case PROJ_MERCATOR: return sizeof(MercatorParams);
    case PROJ_EQDISTCYL: return sizeof(EqDistCylParams);
    case PROJ_WWMERC:
    case PROJ_WWVIEW:
    case PROJ_WWPLTCRR: return sizeof(WorldParams);
    case PROJ_PERSPECT: return sizeof(PerspectParams);
    default: return 0;
  }
}

double WorldPlaneHeight(uint32_t code) {
  switch (code) {
    case PROJ_WWMERC: return WWMERC_HEIGHT;
    case PROJ_WWVIEW: return WWVIEW_HEIGHT;
    case PROJ_WWPLTCRR: return WWPLTCRR_HEIGHT;
    default: return 0.0;
  }
}

int SetUpWorld(const DirectionCosines* c, WorldParams* p) {
  p->m = {1.0, 0.0, 0.0};
  p->lon0 = 0.0;
  if (c != nullptr && (std::fabs(c->x) > geodesy::EPSILON || std::fabs(c->y) > geodesy::EPSILON)) {
    const double lon0 = std::atan2(c->y, c->x);
    if (std::fabs(lon0) >= geodesy::EPSILON) {
      const double h = std::sqrt(c->x * c->x + c->y * c->y);
      p->lon0 = lon0;
      p->m = {c->x / h, c->y / h, 0.0};
    }
  }
  p->opposite = {-p->m.x, -p->m.y, -p->m.z};
  return 0;
}

int SetUpProjection(uint32_t code, const DirectionCosines& c, const DirectionCosines* up,
                    ProjectionParams* p) {
  switch (code) {
    case PROJ_STEREO:
    case PROJ_GNOMONIC: return SetUpTangent(c, &p->tangent);
    case PROJ_ORTHO: return SetUpOrtho(c, up, &p->ortho);
    case PROJ_CONICAL: return SetUpConical(c, &p->conical);
    case PROJ_MERCATOR: return SetUpMercator(c, &p->mercator);
    case PROJ_EQDISTCYL: return SetUpEqDistCyl(c, &p->eqdistcyl);
    case PROJ_WWMERC:
    case PROJ_WWVIEW:
    case PROJ_WWPLTCRR: return SetUpWorld(&c, &p->world);
    case PROJ_PERSPECT: return SetUpPerspect(c, up, PERSPECT_DISTANCE, &p->perspect);
    default: return 3;
  }
}

int ProjectForward(const ProjectionParams& p, uint32_t code, const DirectionCosines& u, double* X,
                   double* Y) {
  switch (code) {
    case PROJ_STEREO: return StereoForward(p.tangent, u, X, Y);
    case PROJ_GNOMONIC: return GnomonicForward(p.tangent, u, X, Y);
    case PROJ_ORTHO: return OrthoForward(p.ortho, u, X, Y);
    case PROJ_CONICAL: return ConicalForward(p.conical, u, X, Y);
    case PROJ_MERCATOR: return MercatorForward(p.mercator, u, X, Y);
    case PROJ_EQDISTCYL: return EqDistCylForward(p.eqdistcyl, u, X, Y);
    case PROJ_WWMERC: return WwMercForward(p.world, u, X, Y);
    case PROJ_WWVIEW: return WwViewForward(p.world, u, X, Y);
    case PROJ_WWPLTCRR: return WwPltCrrForward(p.world, u, X, Y);
    case PROJ_PERSPECT: return PerspectForward(p.perspect, u, X, Y);
    case PROJ_TILESET: return TilesetForward(p.tileset, u, X, Y);
    default: return 3;
  }
}

bool ProjectForwardAccepts(const ProjectionParams& p, uint32_t code, const DirectionCosines& u) {
  if (code == PROJ_STEREO) return !StereoRefuses(p.tangent, u);
  double X, Y;
  return ProjectForward(p, code, u, &X, &Y) == 0;
}

int ProjectInverse(const ProjectionParams& p, uint32_t code, double X, double Y,
                   DirectionCosines* u) {
  switch (code) {
    case PROJ_STEREO: return StereoInverse(p.tangent, X, Y, u);
    case PROJ_GNOMONIC: return GnomonicInverse(p.tangent, X, Y, u);
    case PROJ_ORTHO: return OrthoInverse(p.ortho, X, Y, u);
    case PROJ_CONICAL: return ConicalInverse(p.conical, X, Y, u);
    case PROJ_MERCATOR: return MercatorInverse(p.mercator, X, Y, u);
    case PROJ_EQDISTCYL: return EqDistCylInverse(p.eqdistcyl, X, Y, u);
    case PROJ_WWMERC: return WwMercInverse(p.world, X, Y, u);
    case PROJ_WWVIEW: return WwViewInverse(p.world, X, Y, u);
    case PROJ_WWPLTCRR: return WwPltCrrInverse(p.world, X, Y, u);
    case PROJ_PERSPECT: return 1;  // the perspective view has no inverse
    case PROJ_TILESET: return TilesetInverse(p.tileset, X, Y, u);
    default: return 3;
  }
}

}  // namespace display

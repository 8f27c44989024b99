// World-wide Mercator: the whole earth in the window, the ordinate from a
// table.
//
// The ordinate atanh(z) is interpolated linearly in a table of 76 values in
// units of 1e-4: steps of 0.025 in |z| up to 0.9, then steps of 0.0025 up to
// 0.9975, where the ordinate grows fast. Points with |z| >= 0.9975 (about 86
// degrees of latitude) are off the map. The last table entry is held at 32766
// (the exact value 33417 does not fit 16 bits), so the last interval, |z| in
// [0.995, 0.9975), runs below the exact ordinate by up to 0.065. The inverse
// is the exact inverse Mercator, so forward then inverse returns a point only
// to the table's accuracy.
#include <cmath>

#include "lib/display/projections.h"
#include "lib/geodesy/constants.h"

namespace display {

const int16_t WWMERC_TABLE[76] = {
    0,     250,   500,   751,   1003,  1257,  1511,  1768,  2027,  2289,  2554,  2823,
    3095,  3372,  3654,  3942,  4236,  4538,  4847,  5165,  5493,  5832,  6184,  6550,
    6931,  7332,  7753,  8199,  8673,  9181,  9730,  10327, 10986, 11723, 12562, 13540,
    14722, 14855, 14992, 15132, 15275, 15423, 15574, 15730, 15890, 16056, 16226, 16402,
    16584, 16772, 16967, 17170, 17380, 17600, 17828, 18067, 18318, 18581, 18857, 19150,
    19459, 19788, 20139, 20516, 20923, 21364, 21847, 22380, 22976, 23650, 24427, 25345,
    26467, 27911, 29945, 32766};
static_assert(sizeof(WWMERC_TABLE) / sizeof(WWMERC_TABLE[0]) == 76);

int WwMercForward(const WorldParams& p, const DirectionCosines& u, double* X, double* Y) {
  const double a = std::fabs(u.z);
  double y;
  if (!(a < 1.0)) {  // off the table, or not a number
    *X = 0.0;
    *Y = geodesy::HUGE_VALUE;
    return 1;
  }
  if (a < 0.9) {
    const int j = static_cast<int>(40.0 * a);
    y = (WWMERC_TABLE[j] + (WWMERC_TABLE[j + 1] - WWMERC_TABLE[j]) * (a - 0.025 * j) * 40.0) *
        0.0001;
  } else {
    const int k = static_cast<int>(400.0 * a);
    const int i = k - 324;
    if (i > 74) {  // |z| >= 0.9975
      *X = 0.0;
      *Y = geodesy::HUGE_VALUE;
      return 1;
    }
    y = (WWMERC_TABLE[i] + (WWMERC_TABLE[i + 1] - WWMERC_TABLE[i]) * (a - 0.0025 * k) * 400.0) *
        0.0001;
  }
  const double lon = std::atan2(u.y, u.x);
  *X = p.lon0 != 0.0 ? WrapAngle(lon - p.lon0) : lon;
  *Y = u.z < 0.0 ? -y : y;
  return 0;
}

int WwMercInverse(const WorldParams& p, double X, double Y, DirectionCosines* u) {
  if (!std::isfinite(X) || !std::isfinite(Y)) return 1;
  double lat = 2.0 * (std::atan(std::exp(std::fabs(Y))) - 0.7853981633974483);
  if (Y < 0.0) lat = -lat;
  const double lon = WrapAngle(X + p.lon0);
  const double cl = std::cos(lat);
  *u = {cl * std::cos(lon), cl * std::sin(lon), std::sin(lat)};
  return 0;
}

}  // namespace display

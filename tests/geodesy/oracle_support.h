// Helpers shared by the geodesy oracle tests: a fixed-seed random source and
// the loop scale (the sanitizer build runs a tenth of the points).
#pragma once

#include <cmath>
#include <cstdlib>
#include <random>

#include "lib/geodesy/direction_cosines.h"

namespace geodesy_test {

inline int Scaled(int count) {
  const char* sanitized = std::getenv("OMBREL_SANITIZED");
  return sanitized && *sanitized && *sanitized != '0' ? count / 10 : count;
}

// Points uniform on the unit sphere.
inline geodesy::DirectionCosines RandomUnit(std::mt19937_64& rng) {
  std::normal_distribution<double> normal;
  for (;;) {
    const double x = normal(rng), y = normal(rng), z = normal(rng);
    const double len = std::sqrt(x * x + y * y + z * z);
    if (len > 1e-6) return {x / len, y / len, z / len};
  }
}

}  // namespace geodesy_test

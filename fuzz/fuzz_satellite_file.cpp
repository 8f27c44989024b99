// Fuzzes the satellite file reader: the keyed store over arbitrary bytes and
// the orbit record built from it, with and without the swath limits, then a
// few positions of whatever orbit was accepted.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "interp/keyed_store.h"
#include "interp/orbit_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  interp::KeyedStore* s = interp::OpenKeyedStoreFromText("fuzz.sat", reinterpret_cast<const char*>(data), size);
  if (!s) return 0;
  interp::SatelliteEnv env;
  env.ellipsoid = geodesy::MakeEllipsoid();
  for (bool want : {false, true}) {
    orbits::Orbit o;
    orbits::Swath w;
    std::string message;
    const int r = interp::ParseSatelliteStore(s, env, want, &o, &w, &message);
    if (r < 0 && message.empty()) __builtin_trap();
    if (r >= 0) {
      if (!(o.a > 0) || !(o.period > 0) || !std::isfinite(o.t0)) __builtin_trap();
      for (double t : {0.0, 1.0, 1234.5, 86400.0}) {
        orbits::NadirSwath ns;
        orbits::SatelliteNadirAndSwath(env.ellipsoid, o, r == 1 ? &w : nullptr, t, &ns);
        if (!geodesy::IsValid(ns.nadir)) __builtin_trap();
      }
    }
  }
  interp::CloseKeyedStore(s);
  return 0;
}

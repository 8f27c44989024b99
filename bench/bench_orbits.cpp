// Orbit benchmarks, one line per figure:
//   positions: SatellitePosition + SatelliteNadirAndSwath (nadir, both swath
//     edges, height) per second, beside satellite.js (SGP4 propagation and
//     geodetic conversion under node) and python3-sgp4 (SGP4 in C through
//     its Python interface, TEME to Earth-fixed by GMST and a geodetic
//     conversion) in the same run. The peers propagate a Landsat 8 TLE (the
//     drag terms and the angles along the orbit are stand-ins: speed does not
//     depend on them).
//   commands: DeriveLsetNadir over one day at 1 s (86 401 vertices),
//     DeriveRsetOrbit of one revolution at 1 s, TraceOrbitSwath over one day
//     at 1 s off-screen with time.scale 0, TraceOrbitReceivers with 100
//     receivers over one day at 1 s, each as Duration reports it.
// Run from the build folder: bench/bench_orbits (OMBREL_BIN as for the tests,
// else ./bin). satellite.js is looked for in OMBREL_NODE_MODULES, else in
// bench/node_modules, which is filled by npm when npm is there.
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "interp/keyed_store.h"
#include "interp/orbit_files.h"
#include "lib/orbits/orbit_model.h"

namespace {

const char* kTle1 = "1 39084U 13008A   25225.93518726  .00000283  00000+0  72800-4 0  9996";
const char* kTle2 = "2 39084  98.2219 295.6904 0001221  95.0000 265.1300 14.57122000653151";

double Seconds(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

std::string Capture(const std::string& cmd) {
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return out;
  char buf[512];
  while (fgets(buf, sizeof buf, p)) out += buf;
  pclose(p);
  return out;
}

double OurRate(const std::string& bin) {
  std::ifstream in(bin + "/landsat8.sat");
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  interp::KeyedStore* s = interp::OpenKeyedStoreFromText("landsat8.sat", text.data(), text.size());
  interp::SatelliteEnv env;
  env.ellipsoid = geodesy::MakeEllipsoid();
  orbits::Orbit o;
  orbits::Swath w;
  std::string message;
  if (interp::ParseSatelliteStore(s, env, true, &o, &w, &message) != 1) {
    std::printf("positions: landsat8.sat not read (%s)\n", message.c_str());
    return 0;
  }
  interp::CloseKeyedStore(s);
  const int n = 2000000;
  double sink = 0;
  const auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < n; ++i) {
    orbits::NadirSwath ns;
    orbits::SatelliteNadirAndSwath(env.ellipsoid, o, &w, i * 1.0, &ns);
    sink += ns.nadir.x + ns.right.y + ns.height;
  }
  const double rate = n / Seconds(t0);
  if (sink == 42) std::printf(" ");
  return rate;
}

double NodeRate(const std::string& dir) {
  if (Capture("command -v node").empty()) return 0;
  std::string modules = getenv("OMBREL_NODE_MODULES") ? getenv("OMBREL_NODE_MODULES") : "";
  if (modules.empty()) {
    modules = "bench/node_modules";
    if (access((modules + "/satellite.js").c_str(), F_OK) != 0 && !Capture("command -v npm").empty())
      Capture("npm install --silent --prefix bench satellite.js@7 >/dev/null 2>&1");
  }
  if (access((modules + "/satellite.js").c_str(), F_OK) != 0) return 0;
  char abs_modules[4096];
  if (!realpath(modules.c_str(), abs_modules)) return 0;
  std::ofstream(dir + "/peer.js")
      << "const s = require('" << abs_modules << "/satellite.js');\n"
      << "const rec = s.twoline2satrec('" << kTle1 << "', '" << kTle2 << "');\n"
      << "const n = 1000000; const t0 = Date.UTC(2025, 7, 14);\n"
      << "let sink = 0; const start = process.hrtime.bigint();\n"
      << "for (let i = 0; i < n; ++i) {\n"
      << "  const d = new Date(t0 + i * 1000); const pv = s.propagate(rec, d);\n"
      << "  const g = s.eciToGeodetic(pv.position, s.gstime(d)); sink += g.latitude + g.height;\n"
      << "}\n"
      << "const sec = Number(process.hrtime.bigint() - start) / 1e9;\n"
      << "console.log((n / sec).toFixed(0));\n";
  return std::atof(Capture("node " + dir + "/peer.js 2>/dev/null").c_str());
}

double PythonRate(const std::string& dir) {
  std::ofstream(dir + "/peer.py")
      << "import math, time\nfrom sgp4.api import Satrec, jday\n"
      << "s = Satrec.twoline2rv('" << kTle1 << "', '" << kTle2 << "')\n"
      << "jd0, fr0 = jday(2025, 8, 14, 0, 0, 0)\nn = 200000\nsink = 0.0\nstart = time.perf_counter()\n"
      << "a = 6378137.0; e2 = 0.00669437999014\n"
      << "for i in range(n):\n"
      << "    fr = fr0 + i / 86400.0\n"
      << "    err, r, v = s.sgp4(jd0, fr)\n"
      << "    t = (jd0 - 2451545.0 + fr) / 36525.0\n"
      << "    g = math.radians((67310.54841 + (876600 * 3600 + 8640184.812866) * t) % 86400 / 240.0)\n"
      << "    x = r[0] * math.cos(g) + r[1] * math.sin(g); y = -r[0] * math.sin(g) + r[1] * math.cos(g)\n"
      << "    p = math.hypot(x, y) * 1000.0; z = r[2] * 1000.0\n"
      << "    lat = math.atan2(z, p * (1 - e2))\n"
      << "    for k in range(3):\n"
      << "        N = a / math.sqrt(1 - e2 * math.sin(lat) ** 2)\n"
      << "        lat = math.atan2(z + e2 * N * math.sin(lat), p)\n"
      << "    sink += lat\n"
      << "print(round(n / (time.perf_counter() - start)))\n";
  return std::atof(Capture("/usr/bin/python3 " + dir + "/peer.py 2>/dev/null").c_str());
}

void Commands(const std::string& bin, const std::string& dir) {
  std::ofstream rcv(dir + "/r100.rcv");
  for (int i = 0; i < 100; ++i)
    rcv << (i % 2 ? "n" : "s") << (i * 7) % 85 << " e" << (i * 37) % 360 << " 1000 80 R" << i << "\n";
  rcv.close();
  std::system(("cp " + bin + "/landsat8.sat " + dir + "/").c_str());
  const char* day = "landsat8 2025-08-13 22:26:41 2025-08-14 22:26:41 1";
  std::ofstream(dir + "/b.omb") << "DeriveLsetNadir trk " << day << "\nDuration\n"
                                << "DeriveRsetOrbit strip landsat8 1 1\nDuration\n"
                                << "Set time.scale 0\nTraceOrbitSwath " << day << "\nDuration\n"
                                << "TraceOrbitReceivers r100 " << day << "\nDuration\n";
  const std::string out =
      Capture("cd " + dir + " && SDL_VIDEODRIVER=dummy " + bin + "/ombrel --batch b.omb </dev/null 2>&1");
  const char* names[4] = {"DeriveLsetNadir, one day at 1 s (86 401 vertices)",
                          "DeriveRsetOrbit, one revolution at 1 s", "TraceOrbitSwath, one day at 1 s, off-screen",
                          "TraceOrbitReceivers, 100 receivers, one day at 1 s"};
  const double goals[4] = {0.3, 0.3, 1.0, 1.0};
  size_t at = 0;
  for (int k = 0; k < 4; ++k) {
    at = out.find("Duration\n", at);
    if (at == std::string::npos) {
      std::printf("commands: no Duration line for %s; output:\n%s", names[k], out.c_str());
      return;
    }
    at += 9;
    int h = 0, m = 0;
    double s = 0;
    std::sscanf(out.c_str() + at, "%d:%d:%lf", &h, &m, &s);
    const double sec = h * 3600 + m * 60 + s;
    std::printf("%s: %.3f s (goal under %.1f s)\n", names[k], sec, goals[k]);
  }
}

}  // namespace

int main() {
  const std::string bin = getenv("OMBREL_BIN") ? getenv("OMBREL_BIN") : "bin";
  char tmpl[] = "/tmp/ombrel_bench_orbits_XXXXXX";
  if (!mkdtemp(tmpl)) return 1;
  const std::string dir = tmpl;
  const double ours = OurRate(bin);
  const double node = NodeRate(dir);
  const double python = PythonRate(dir);
  std::printf("positions (nadir + swath + height) per second: ombrel %.0f", ours);
  if (node > 0)
    std::printf(", satellite.js %.0f (ombrel %.1fx)", node, ours / node);
  else
    std::printf(", satellite.js not available");
  if (python > 0)
    std::printf(", python3-sgp4 %.0f (ombrel %.1fx)", python, ours / python);
  else
    std::printf(", python3-sgp4 not available");
  std::printf("\n");
  Commands(bin, dir);
  std::system(("rm -rf " + dir).c_str());
  return 0;
}

// Running the two S2 peer builds (s2_peer.cpp) beside a benchmark: the
// -O2 -DNDEBUG build of Debian's source ("S2 NDEBUG", the fair peer) and
// Debian's own libs2 ("Debian S2", with its debug checks).
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace bench {

struct Xyz {
  double x, y, z;
};

inline void WriteXyz(std::FILE* f, const std::vector<Xyz>& v) {
  const std::uint64_t n = v.size();
  std::fwrite(&n, sizeof n, 1, f);
  if (n) std::fwrite(v.data(), sizeof(Xyz), v.size(), f);
}

// Writes the peers' input: rings (contains only) then points. False on a write error.
inline bool WritePeerFile(const std::string& path, const std::vector<std::vector<Xyz>>* rings,
                          const std::vector<Xyz>& points) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  if (rings) {
    const std::uint64_t n = rings->size();
    std::fwrite(&n, sizeof n, 1, f);
    for (const auto& r : *rings) WriteXyz(f, r);
  }
  WriteXyz(f, points);
  return std::fclose(f) == 0;
}

struct PeerFigure {
  bool ok = false;
  double seconds = 0.0;
  unsigned long long result = 0;
};

// The folder of the running program, where the peers are built beside it.
inline std::string ProgramDir() {
  char buf[4096];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  const std::string exe = n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string("./x");
  return exe.substr(0, exe.find_last_of('/'));
}

// Runs peer ("ndebug" or "debian") in mode on file; the best of rounds.
inline PeerFigure RunPeer(const char* peer, const char* mode, const std::string& file, int rounds) {
  PeerFigure fig;
  const std::string cmd = ProgramDir() + "/s2peer_" + peer + " " + mode + " " + file + " " + std::to_string(rounds);
  std::FILE* p = popen(cmd.c_str(), "r");
  if (!p) return fig;
  fig.ok = std::fscanf(p, "%lf %llu", &fig.seconds, &fig.result) == 2;
  fig.ok = pclose(p) == 0 && fig.ok;
  return fig;
}

// "S2 NDEBUG 0.412 s (1.48x)": a peer's figure and its time over ours
// (above 1: ours is faster), or why there is none.
inline std::string PeerText(const char* label, const PeerFigure& f, double ours, double scale, const char* unit) {
  char buf[160];
  if (!f.ok) std::snprintf(buf, sizeof buf, "%s: not available", label);
  else std::snprintf(buf, sizeof buf, "%s %.3g %s (%.2fx)", label, f.seconds * scale, unit, f.seconds / ours);
  return buf;
}

}  // namespace bench

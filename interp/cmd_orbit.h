// The orbit and swath commands.
//
// Traces draw on the map while simulated time runs (CmdTraceOrbit: variant 1
// the ground track, 2 the swath edges, 3 both; CmdTraceOrbitWatch: variant 4
// the track and the receivers that see the satellite, 8 the track over a
// region set); CmdTraceOrbitCollection the track over a collection of
// regions, each entered region highlighted and named. The derivations build
// objects (CmdDeriveOrbit: 2,1 the track as a line set, 2,2 the swath between
// two times as a region set, 1,2 the swath of one whole revolution).
#pragma once

#include "interp/global.h"

namespace display {
struct DrawState;
}

namespace interp {

void CmdTraceOrbit(GlobalBlock& g, const char* args, int variant, int mode);
void CmdTraceOrbitWatch(GlobalBlock& g, const char* args, int variant, int mode);
// The track over a collection of regions (".plr", names from the ".dat").
void CmdTraceOrbitCollection(GlobalBlock& g, const char* args, int variant, int mode);
void CmdDeriveOrbit(GlobalBlock& g, const char* args, int variant, int mode);

// The 3 x 3 pixel block that marks the current nadir on the screen. The
// pixels it covers are kept and put back when it moves on or is taken away,
// so it leaves no trace in the picture.
struct NadirMark {
  bool shown = false;
  int x = 0, y = 0;
  unsigned saved[9] = {};
  bool inside[9] = {};
};
// plain: an open plain drawing state on the picture.
void ShowNadirMark(display::DrawState* plain, NadirMark* m, int x, int y, unsigned colour);
void HideNadirMark(display::DrawState* plain, NadirMark* m);

}  // namespace interp

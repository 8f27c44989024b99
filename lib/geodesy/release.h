// The library release query: the release number (LIBRARY_RELEASE, the
// newest stamp that index and object files may carry) and the build stamp,
// the compile date and time joined by one blank ("Dec  8 2026 15:50:00").
#pragma once

namespace geodesy {

struct ReleaseInfo {
  int release;
  const char* build_stamp;  // static text
};

ReleaseInfo QueryLibraryRelease();

}  // namespace geodesy

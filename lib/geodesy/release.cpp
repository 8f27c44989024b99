// The release query. The build stamp is fixed when this file is compiled.
#include "lib/geodesy/release.h"

#include "lib/geodesy/constants.h"

namespace geodesy {

ReleaseInfo QueryLibraryRelease() {
  static const char kStamp[] = __DATE__ " " __TIME__;
  return {LIBRARY_RELEASE, kStamp};
}

}  // namespace geodesy

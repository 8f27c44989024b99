// The global pointer. main() allocates the block and publishes it here; tests
// publish their own.
#include "interp/global.h"

namespace interp {

GlobalBlock* osb = nullptr;

}  // namespace interp

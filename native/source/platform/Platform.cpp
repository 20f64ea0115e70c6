#include "platform/Platform.h"

namespace nolari::platform {

namespace {
Platform* installed = nullptr;
}

void installPlatform(Platform* platform) { installed = platform; }

Platform& currentPlatform() { return *installed; }

}  // namespace nolari::platform

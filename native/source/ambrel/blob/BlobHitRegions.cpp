#include "ambrel/blob/BlobHitRegions.h"

#include <utility>

namespace nolari::ambrel {

void BlobHitRegions::press(const platform::DisplayList& shown, platform::Point at) {
  pressed_ = platform::hitTest(shown, at);
}

std::optional<BlobAction> BlobHitRegions::release(const platform::DisplayList& shown,
                                                  platform::Point at) {
  auto action = platform::hitTest(shown, at);
  auto pressed = std::exchange(pressed_, std::nullopt);
  if (!action || action != pressed) return std::nullopt;
  return blobActionFromRawValue(*action);
}

}  // namespace nolari::ambrel

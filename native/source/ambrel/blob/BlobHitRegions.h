#pragma once

#include <optional>
#include <string>

#include "ambrel/blob/ActionBlobState.h"
#include "platform/DisplayList.h"

// A click on the blob: an action where the pointer is pressed and released
// over the same hit region of the frame on screen.

namespace nolari::ambrel {

class BlobHitRegions {
 public:
  void press(const platform::DisplayList& shown, platform::Point at);
  // The action clicked, if the press was over the same region.
  std::optional<BlobAction> release(const platform::DisplayList& shown, platform::Point at);

 private:
  std::optional<std::string> pressed_;
};

}  // namespace nolari::ambrel

#include "ambrel/blob/DesignTokens.h"

#include <cmath>

namespace nolari::ambrel::BlobDesignTokens {

Size BlobSize::outerFrame(Size pill) {
  return {std::ceil(pill.width * hoverExpansion), std::ceil(pill.height * hoverExpansion)};
}

}  // namespace nolari::ambrel::BlobDesignTokens

#pragma once

#include "platform/DisplayList.h"
#include "platform/Geometry.h"

// Layout asks the engine that draws: a text run measured here takes exactly
// the size it is painted at, truncation and letter spacing included.

namespace nolari::platform {

class TextMeasurer {
 public:
  virtual ~TextMeasurer() = default;
  // The size `run` takes when laid out within `maxWidth` points (its own
  // `width` is ignored), with its line limit and truncation: the width of its
  // widest line and the height of its lines.
  virtual Size measure(const TextRun& run, double maxWidth) = 0;
};

}  // namespace nolari::platform

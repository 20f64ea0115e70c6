#pragma once

#include <cstddef>
#include <optional>

#include "ambrel/blob/ActionBlobState.h"
#include "ambrel/blob/ActionBlobView.h"
#include "platform/RunLoop.h"

// The pill's content changing form: the new content comes in from the moment
// its form appeared, and the content it replaced fades out over
// `BLOB_CONTENT_TRANSITION`. Time is passed in, so it runs on any clock.

namespace nolari::ambrel {

// The form the pill takes: its content changes with a transition only when
// this changes.
struct BlobForm {
  std::size_t stateCase = 0;
  bool hoveredForm = false;

  // Idle and ready always have a hovered form; an error only with a long text.
  static BlobForm of(const ActionBlobState& state, bool hovered);
  friend bool operator==(const BlobForm&, const BlobForm&) = default;
};

class BlobContentTransition {
 public:
  BlobContentTransition(BlobForm form, platform::TimePoint now) : form_(form), contentStart_(now) {}

  const BlobForm& form() const { return form_; }
  // The pill takes `form` at `now`; `shown`, what the last frame drew, leaves.
  void change(BlobForm form, ActionBlobRoot shown, platform::TimePoint now);
  // The ages of the frame drawn at `now` in a window of `outer`; the leaving
  // content is forgotten once its fade ended.
  BlobMoment moment(platform::TimePoint now, platform::Size outer);

 private:
  BlobForm form_;
  platform::TimePoint contentStart_;
  std::optional<ActionBlobRoot> leaving_;
  platform::TimePoint leavingStart_{};
  platform::TimePoint leavingContentStart_{};
};

}  // namespace nolari::ambrel

#pragma once

#include <functional>
#include <memory>

#include "ambrel/blob/ActionBlobState.h"
#include "platform/RunLoop.h"

// Whether the blob shows its hovered form, and the grace period after the
// pointer left before it collapses: a pointer that comes back within it keeps
// the blob open without a flicker. Main-loop only.

namespace nolari::ambrel {

class BlobHover {
 public:
  explicit BlobHover(platform::RunLoop& loop) : loop_(loop) {}
  ~BlobHover();
  BlobHover(const BlobHover&) = delete;
  BlobHover& operator=(const BlobHover&) = delete;

  bool hovered() const { return hovered_; }
  // Processing, success and the dictation states have no hovered form.
  static bool hasHoveredForm(const ActionBlobState& state);

  // A pending collapse is called off.
  void cancelCollapse();
  // The pointer entered while `state` is shown: true when the blob opens now.
  bool enter(const ActionBlobState& state);
  // The pointer left: an open blob collapses after the grace period, and
  // `collapsed` is told then.
  void exit(std::function<void()> collapsed);
  // Opened or closed at once, whatever the state; nothing pending changes.
  void force(bool hovered) { hovered_ = hovered; }
  // Closed, with no collapse pending.
  void reset();

 private:
  platform::RunLoop& loop_;
  bool hovered_ = false;
  std::shared_ptr<platform::Timer> collapseTimer_;
};

}  // namespace nolari::ambrel

#include "ambrel/blob/BlobHover.h"

#include <chrono>
#include <utility>

#include "ambrel/blob/DesignTokens.h"

namespace nolari::ambrel {

BlobHover::~BlobHover() {
  if (collapseTimer_) collapseTimer_->invalidate();
}

bool BlobHover::hasHoveredForm(const ActionBlobState& state) {
  return !(state.is<ActionBlobState::Processing>() || state.is<ActionBlobState::Success>() ||
           state.is<ActionBlobState::Recording>() || state.is<ActionBlobState::Transcribing>() ||
           state.is<ActionBlobState::Editing>());
}

void BlobHover::cancelCollapse() {
  if (collapseTimer_) collapseTimer_->invalidate();
  collapseTimer_.reset();
}

bool BlobHover::enter(const ActionBlobState& state) {
  cancelCollapse();
  if (hovered_ || !hasHoveredForm(state)) return false;
  hovered_ = true;
  return true;
}

void BlobHover::exit(std::function<void()> collapsed) {
  if (!hovered_) return;
  cancelCollapse();
  collapseTimer_ =
      loop_.scheduleTimer(loop_.now() + std::chrono::duration_cast<platform::Duration>(
                                            BlobDesignTokens::Motion::hoverGracePeriod),
                          [this, collapsed = std::move(collapsed)] {
                            collapseTimer_.reset();
                            if (!hovered_) return;
                            hovered_ = false;
                            collapsed();
                          });
}

void BlobHover::reset() {
  hovered_ = false;
  cancelCollapse();
}

}  // namespace nolari::ambrel

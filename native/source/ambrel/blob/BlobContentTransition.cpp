#include "ambrel/blob/BlobContentTransition.h"

#include <chrono>
#include <utility>

namespace nolari::ambrel {

namespace {

double seconds(platform::Duration duration) {
  return std::chrono::duration<double>(duration).count();
}

}  // namespace

BlobForm BlobForm::of(const ActionBlobState& state, bool hovered) {
  bool hoveredForm = false;
  if (hovered) {
    if (state.is<ActionBlobState::Idle>() || state.is<ActionBlobState::Ready>()) hoveredForm = true;
    if (auto* error = std::get_if<ActionBlobState::Error>(&state.value())) {
      hoveredForm = !error->longMessage.empty();
    }
  }
  return {state.value().index(), hoveredForm};
}

void BlobContentTransition::change(BlobForm form, ActionBlobRoot shown, platform::TimePoint now) {
  leaving_ = std::move(shown);
  leaving_->showRejectionFlash = false;
  leavingStart_ = now;
  leavingContentStart_ = contentStart_;
  contentStart_ = now;
  form_ = form;
}

BlobMoment BlobContentTransition::moment(platform::TimePoint now, platform::Size outer) {
  BlobMoment moment{.contentAge = seconds(now - contentStart_)};
  if (leaving_) {
    moment.leavingAge = seconds(now - leavingStart_);
    if (moment.leavingAge < BLOB_CONTENT_TRANSITION) {
      leaving_->outerSize = outer;
      moment.leaving = leaving_;
      moment.leavingContentAge = seconds(now - leavingContentStart_);
    } else {
      leaving_.reset();
    }
  }
  return moment;
}

}  // namespace nolari::ambrel

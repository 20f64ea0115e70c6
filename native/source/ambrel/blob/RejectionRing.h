#pragma once

#include <functional>
#include <memory>

#include "ambrel/blob/Animation.h"
#include "platform/RunLoop.h"

// The crimson ring a rejected request flashes for a quarter second: its flag
// comes on at once and goes a quarter second after the last flash, and its
// opacity fades towards the flag. Main-loop only.

namespace nolari::ambrel {

class RejectionRing {
 public:
  // `changed` is told when the flag comes or goes, `faded` after every step
  // of the opacity.
  RejectionRing(platform::RunLoop& loop, Animator& animator, std::function<void()> changed,
                std::function<void()> faded)
      : loop_(loop), animator_(animator), changed_(std::move(changed)), faded_(std::move(faded)) {}
  ~RejectionRing();
  RejectionRing(const RejectionRing&) = delete;
  RejectionRing& operator=(const RejectionRing&) = delete;

  // A flash within the period of the last one starts the period again.
  void flash();
  bool active() const { return active_; }
  double opacity() const { return opacity_; }

 private:
  void fadeToFlag();

  platform::RunLoop& loop_;
  Animator& animator_;
  std::function<void()> changed_;
  std::function<void()> faded_;
  bool active_ = false;
  double opacity_ = 0;
  std::shared_ptr<platform::Timer> timer_;
  Animator::Id fade_ = 0;
};

}  // namespace nolari::ambrel

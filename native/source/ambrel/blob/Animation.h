#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>

#include "platform/RunLoop.h"

// Timing curves and the frame clock that moves the agent's windows and their
// contents. Every frame is a run-loop timer, so virtual time moves animations
// in tests; with nothing animating, no timer is scheduled.

namespace nolari::ambrel {

// How an animation's progress (0 at its start, 1 at its end) follows time.
// Springs may overshoot 1 before they settle.
struct Timing {
  enum class Curve { linear, easeIn, easeOut, easeInOut, spring };
  Curve curve = Curve::linear;
  double duration = 0;  // seconds; a spring's is the time it takes to settle
  double response = 0;  // springs: the period of the undamped oscillation
  double damping = 1;   // springs: the damping fraction, 1 for critical damping

  static Timing linear(double seconds) { return {Curve::linear, seconds}; }
  static Timing easeIn(double seconds) { return {Curve::easeIn, seconds}; }
  static Timing easeOut(double seconds) { return {Curve::easeOut, seconds}; }
  static Timing easeInOut(double seconds) { return {Curve::easeInOut, seconds}; }
  // A spring from its period and damping fraction.
  static Timing spring(double response, double dampingFraction);
  // A spring from its physical constants, starting at rest.
  static Timing interpolatingSpring(double mass, double stiffness, double damping);

  // Progress after `seconds`: 0 before the start, 1 from `duration` on.
  double progress(double seconds) const;
};

// Runs animations frame by frame on the main run loop, about sixty frames a
// second. Main-thread only.
class Animator {
 public:
  using Id = std::uint64_t;
  // Called with the progress of each frame, the last time with the final
  // value, 1 for curves that end there.
  using Frame = std::function<void(double progress)>;
  // Called once: true when the animation ran to its end, false when it was
  // cancelled or replaced.
  using Completion = std::function<void(bool finished)>;

  static constexpr platform::Duration FRAME_INTERVAL = std::chrono::microseconds(16667);

  explicit Animator(platform::RunLoop& loop) : loop_(loop) {}
  ~Animator();
  Animator(const Animator&) = delete;
  Animator& operator=(const Animator&) = delete;

  // Starts an animation; its first frame comes with the next tick.
  Id start(Timing timing, Frame frame, Completion completion = {});
  // Ends an animation without a last frame; its completion learns it did not
  // finish. An unknown or finished id is ignored.
  void cancel(Id id);

 private:
  struct Running {
    Timing timing;
    platform::TimePoint start;
    Frame frame;
    Completion completion;
  };
  void tick();
  void scheduleTick();

  platform::RunLoop& loop_;
  std::map<Id, Running> running_;
  Id nextId_ = 1;
  std::shared_ptr<platform::Timer> timer_;
};

}  // namespace nolari::ambrel

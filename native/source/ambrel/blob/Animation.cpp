#include "ambrel/blob/Animation.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>
#include <vector>

namespace nolari::ambrel {

namespace {

// The model platform's standard curves, as cubic Béziers from (0,0) to (1,1)
// through the control points (x1,y1) and (x2,y2).
struct Bezier {
  double x1, y1, x2, y2;

  static double at(double a, double b, double t) {
    const double u = 1 - t;
    return 3 * u * u * t * a + 3 * u * t * t * b + t * t * t;
  }
  // The curve's height where its abscissa is `x`, found by bisection: the
  // abscissa grows monotonically with the parameter for these curves.
  double y(double x) const {
    double low = 0;
    double high = 1;
    for (int step = 0; step < 40; ++step) {
      const double middle = (low + high) / 2;
      (at(x1, x2, middle) < x ? low : high) = middle;
    }
    return at(y1, y2, (low + high) / 2);
  }
};

constexpr Bezier EASE_IN{0.42, 0, 1, 1};
constexpr Bezier EASE_OUT{0, 0, 0.58, 1};
constexpr Bezier EASE_IN_OUT{0.42, 0, 0.58, 1};

// A spring is taken as settled once its swing is below a thousandth.
const double SETTLE_LOG = std::log(1000.0);

double springProgress(double response, double damping, double t) {
  const double omega = 2 * std::numbers::pi / response;
  if (damping >= 1) return 1 - std::exp(-omega * t) * (1 + omega * t);
  const double decay = damping * omega;
  const double damped = omega * std::sqrt(1 - damping * damping);
  return 1 - std::exp(-decay * t) * (std::cos(damped * t) + decay / damped * std::sin(damped * t));
}

}  // namespace

Timing Timing::spring(double response, double dampingFraction) {
  response = std::max(response, 1e-3);
  dampingFraction = std::clamp(dampingFraction, 1e-3, 1.0);
  const double omega = 2 * std::numbers::pi / response;
  // Critical damping settles a little later than its envelope says.
  const double settle = SETTLE_LOG / (dampingFraction * omega) * (dampingFraction >= 1 ? 1.5 : 1);
  return {Curve::spring, settle, response, dampingFraction};
}

Timing Timing::interpolatingSpring(double mass, double stiffness, double damping) {
  const double omega = std::sqrt(stiffness / mass);
  return spring(2 * std::numbers::pi / omega, damping / (2 * std::sqrt(stiffness * mass)));
}

double Timing::progress(double seconds) const {
  if (!(seconds > 0)) return 0;
  if (seconds >= duration) return 1;
  const double x = seconds / duration;
  switch (curve) {
    case Curve::linear:
      return x;
    case Curve::easeIn:
      return EASE_IN.y(x);
    case Curve::easeOut:
      return EASE_OUT.y(x);
    case Curve::easeInOut:
      return EASE_IN_OUT.y(x);
    case Curve::spring:
      return springProgress(response, damping, seconds);
  }
  return 1;
}

Animator::~Animator() {
  if (timer_) timer_->invalidate();
}

Animator::Id Animator::start(Timing timing, Frame frame, Completion completion) {
  const Id id = nextId_++;
  running_.emplace(id, Running{timing, loop_.now(), std::move(frame), std::move(completion)});
  scheduleTick();
  return id;
}

void Animator::cancel(Id id) {
  auto it = running_.find(id);
  if (it == running_.end()) return;
  auto completion = std::move(it->second.completion);
  running_.erase(it);
  if (running_.empty() && timer_) {
    timer_->invalidate();
    timer_.reset();
  }
  if (completion) completion(false);
}

void Animator::scheduleTick() {
  if (timer_ && timer_->isValid()) return;
  timer_ = loop_.scheduleTimer(loop_.now() + FRAME_INTERVAL, [this] {
    timer_.reset();
    tick();
  });
}

// Frames go out before completions, and callbacks may start or cancel
// animations: each is looked up again before it is called.
void Animator::tick() {
  const auto now = loop_.now();
  std::vector<Id> ids;
  ids.reserve(running_.size());
  for (const auto& [id, running] : running_) ids.push_back(id);
  std::vector<Completion> finished;
  for (Id id : ids) {
    auto it = running_.find(id);
    if (it == running_.end()) continue;
    const double elapsed = std::chrono::duration<double>(now - it->second.start).count();
    const bool done = elapsed >= it->second.timing.duration;
    auto frame = it->second.frame;
    if (done) {
      finished.push_back(std::move(it->second.completion));
      running_.erase(it);
    }
    if (frame) frame(done ? 1.0 : it->second.timing.progress(elapsed));
  }
  for (auto& completion : finished) {
    if (completion) completion(true);
  }
  if (!running_.empty()) scheduleTick();
}

}  // namespace nolari::ambrel

// The release of the space bar racing the end of the delay on two real
// threads: the keyboard tap's and the main loop's. Whichever wins, a dictation
// started always gets its release.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "AgentFixture.h"
#include "platform/Agenda.h"
#include "support/SimPlatform.h"

namespace nolari {
namespace {

using nlohmann::json;

// A main loop whose delayed task the test runs itself, on the thread and at
// the moment it chooses. Threads are not started: the test calls the taps.
class HandRunLoop : public platform::RunLoop {
 public:
  platform::TimePoint now() const override { return platform::Clock::now(); }
  void post(platform::Task) override {}
  std::shared_ptr<platform::WorkItem> postAfter(platform::Duration, platform::Task task) override {
    auto item = std::make_shared<platform::AgendaWorkItem>();
    std::lock_guard lock(mutex_);
    pending_ = {item, std::move(task)};
    return item;
  }
  std::shared_ptr<platform::Timer> scheduleTimer(platform::TimePoint, platform::Task) override {
    return nullptr;
  }
  std::shared_ptr<platform::SerialQueue> makeSerialQueue(const std::string&) override {
    return nullptr;
  }
  void startThread(const std::string&, platform::Task) override {}
  void run() override {}
  void stop() override {}

  // Runs the last delayed task even when it was cancelled meanwhile, as a real
  // loop may when the cancel comes while the task is on its way.
  void runDelayed() {
    std::pair<std::shared_ptr<platform::AgendaWorkItem>, platform::Task> pending;
    {
      std::lock_guard lock(mutex_);
      pending = std::exchange(pending_, {});
    }
    if (pending.second) pending.second();
  }

 private:
  std::mutex mutex_;
  std::pair<std::shared_ptr<platform::AgendaWorkItem>, platform::Task> pending_;
};

// Two threads meeting: both leave within a moment of the second arriving,
// rather than one of them a wake-up later.
class SpinBarrier {
 public:
  void arriveAndWait() {
    const int target = (arrived_.fetch_add(1) / 2 + 1) * 2;
    while (arrived_.load() < target) std::this_thread::yield();
  }

 private:
  std::atomic<int> arrived_{0};
};

// One side waits a few microseconds in some rounds, so that each wins often.
void spinFor(int microseconds) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(microseconds);
  while (std::chrono::steady_clock::now() < until) {
  }
}

TEST(SpaceHoldRace, ReleaseAndDelayEndInEitherOrderButNeverLeaveADictationRunning) {
  auto owned = std::make_unique<HandRunLoop>();
  HandRunLoop& loop = *owned;
  test::SimPlatform sim(json{{"trusted", true}}, std::move(owned));
  test::FakeEventTaps taps;
  test::FakeWindowing windowing;
  test::EventRecorder recorder;
  NolariConfig config;
  config.dictation.spaceHoldEnabled = true;
  auto agent = ambrel::Ambrel::create(sim.accessibility(), sim.workspace(), taps, windowing, loop,
                                      config, recorder);
  int input = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  agent->start(input);
  ::close(input);
  recorder.take();

  constexpr int ROUNDS = 20000;
  SpinBarrier sync;
  std::thread keyThread([&] {
    for (int round = 0; round < ROUNDS; ++round) {
      taps.keyboard->callback(test::keyDown(49));
      sync.arriveAndWait();  // both go
      if (round % 2) spinFor(round % 5);
      taps.keyboard->callback(test::keyUp(49));
      sync.arriveAndWait();  // round over
    }
  });
  const json down =
      json::parse(R"({"type":"dictation_ptt_down","mode":"dictation","source":"spaceHold"})");
  const json up =
      json::parse(R"({"type":"dictation_ptt_up","mode":"dictation","source":"spaceHold"})");
  int dictations = 0, failures = 0;
  for (int round = 0; round < ROUNDS; ++round) {
    sync.arriveAndWait();
    if (round % 2 == 0) spinFor(round % 5);
    loop.runDelayed();
    sync.arriveAndWait();
    const auto lines = recorder.take();
    if (lines == std::vector<json>{down, up}) {
      ++dictations;
    } else if (!lines.empty() && ++failures <= 5) {
      ADD_FAILURE() << "round " << round << ": " << json(lines).dump();
    }
  }
  keyThread.join();
  EXPECT_EQ(failures, 0);
  // How often each side won depends on the machine's load, so it is shown, not asserted.
  std::printf("%d of %d rounds started a dictation\n", dictations, ROUNDS);
}

}  // namespace
}  // namespace nolari

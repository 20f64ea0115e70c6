#include "platform/asio/RunLoop.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/VirtualRunLoop.h"

using namespace std::chrono_literals;
using nolari::platform::AsioRunLoop;
using nolari::platform::Clock;
using nolari::platform::Duration;
using nolari::platform::TimePoint;
using nolari::platform::VirtualRunLoop;

namespace {

// What ran, and at which virtual time relative to the start.
struct Trace {
  explicit Trace(VirtualRunLoop& traced) : loop(traced), start(traced.now()) {}

  VirtualRunLoop& loop;
  TimePoint start;
  std::vector<std::pair<std::string, Duration>> entries;

  std::function<void()> record(std::string name) {
    return [this, name = std::move(name)] { entries.emplace_back(name, loop.now() - start); };
  }
  std::vector<std::string> names() const {
    std::vector<std::string> result;
    for (const auto& entry : entries) result.push_back(entry.first);
    return result;
  }
};

using Names = std::vector<std::string>;

}  // namespace

TEST(VirtualRunLoop, RunsDelayedWorkInFireDateOrderAtItsTime) {
  VirtualRunLoop loop;
  Trace trace(loop);
  loop.postAfter(3s, trace.record("three"));
  loop.postAfter(1s, trace.record("one"));
  loop.scheduleTimer(loop.now() + 2s, trace.record("two"));
  loop.post(trace.record("now"));

  loop.advance(2500ms);
  ASSERT_EQ(trace.names(), (Names{"now", "one", "two"}));
  EXPECT_EQ(trace.entries[0].second, 0s);
  EXPECT_EQ(trace.entries[1].second, 1s);
  EXPECT_EQ(trace.entries[2].second, 2s);
  EXPECT_EQ(loop.now() - trace.start, 2500ms);

  loop.advance(500ms);
  EXPECT_EQ(trace.names(), (Names{"now", "one", "two", "three"}));
  EXPECT_EQ(trace.entries[3].second, 3s);
}

TEST(VirtualRunLoop, EqualFireDatesRunInTheOrderTheyWereAdded) {
  VirtualRunLoop loop;
  Trace trace(loop);
  loop.postAfter(1s, trace.record("a"));
  loop.scheduleTimer(loop.now() + 1s, trace.record("b"));
  loop.postAfter(1s, trace.record("c"));
  auto moved = loop.scheduleTimer(loop.now() + 5s, trace.record("d"));
  moved->setFireDate(trace.start + 1s);
  loop.advance(1s);
  EXPECT_EQ(trace.names(), (Names{"a", "b", "c", "d"}));
}

TEST(VirtualRunLoop, CancelledWorkNeverRuns) {
  VirtualRunLoop loop;
  Trace trace(loop);
  auto early = loop.postAfter(1s, trace.record("early"));
  auto late = loop.postAfter(2s, trace.record("late"));
  // Cancelled by a task that runs before it, within the same advance.
  loop.postAfter(1500ms, [&] { late->cancel(); });
  early->cancel();
  EXPECT_TRUE(early->isCancelled());
  loop.advance(10s);
  EXPECT_TRUE(trace.entries.empty());
  EXPECT_TRUE(late->isCancelled());
}

TEST(VirtualRunLoop, TimerFiresOnceAtItsLatestFireDate) {
  VirtualRunLoop loop;
  Trace trace(loop);
  auto earlier = loop.scheduleTimer(trace.start + 10s, trace.record("earlier"));
  auto later = loop.scheduleTimer(trace.start + 10s, trace.record("later"));
  auto invalidated = loop.scheduleTimer(trace.start + 1s, trace.record("invalidated"));
  // The loop keeps a timer whose handle was dropped.
  loop.scheduleTimer(trace.start + 25s, trace.record("dropped"));
  invalidated->invalidate();
  invalidated->setFireDate(trace.start + 3s);
  EXPECT_FALSE(invalidated->isValid());
  earlier->setFireDate(trace.start + 5s);
  later->setFireDate(trace.start + 20s);
  EXPECT_EQ(later->fireDate(), trace.start + 20s);

  loop.advance(12s);
  ASSERT_EQ(trace.names(), (Names{"earlier"}));
  EXPECT_EQ(trace.entries[0].second, 5s);
  EXPECT_FALSE(earlier->isValid());
  EXPECT_TRUE(later->isValid());

  // A fired timer stays fired: a new date brings nothing back.
  earlier->setFireDate(trace.start + 15s);
  loop.advance(30s);
  ASSERT_EQ(trace.names(), (Names{"earlier", "later", "dropped"}));
  EXPECT_EQ(trace.entries[1].second, 20s);
  EXPECT_FALSE(later->isValid());
}

TEST(VirtualRunLoop, RestartedThirtySecondLingerRunsInVirtualTime) {
  VirtualRunLoop loop;
  Trace trace(loop);
  auto wallStart = std::chrono::steady_clock::now();
  auto linger = loop.scheduleTimer(trace.start + 30s, trace.record("linger"));
  loop.advance(20s);
  linger->setFireDate(loop.now() + 30s);
  loop.advance(29999ms);
  EXPECT_TRUE(trace.entries.empty());
  loop.advance(1ms);
  ASSERT_EQ(trace.names(), (Names{"linger"}));
  EXPECT_EQ(trace.entries[0].second, 50s);
  EXPECT_LT(std::chrono::steady_clock::now() - wallStart, 1s);
}

TEST(VirtualRunLoop, TasksPostedByTasksRunInTheSameAdvance) {
  VirtualRunLoop loop;
  Trace trace(loop);
  loop.postAfter(1s, [&] {
    trace.record("outer")();
    loop.post(trace.record("posted"));
    loop.postAfter(0s, trace.record("zero"));
    loop.postAfter(1s, trace.record("second later"));
    loop.postAfter(5s, trace.record("beyond"));
  });
  loop.runUntilIdle();
  EXPECT_TRUE(trace.entries.empty());
  EXPECT_EQ(loop.now(), trace.start);
  loop.advance(3s);
  ASSERT_EQ(trace.names(), (Names{"outer", "posted", "zero", "second later"}));
  EXPECT_EQ(trace.entries[2].second, 1s);
  EXPECT_EQ(trace.entries[3].second, 2s);
  EXPECT_EQ(loop.now() - trace.start, 3s);
}

TEST(VirtualRunLoop, SerialQueuesAndThreadsRunOnTheLoopInOrder) {
  VirtualRunLoop loop;
  Trace trace(loop);
  auto queue = loop.makeSerialQueue("nolari.stdin");
  queue->post(trace.record("q1"));
  loop.post(trace.record("main"));
  queue->post([&] {
    trace.record("q2")();
    queue->post(trace.record("q3"));
  });
  loop.startThread("nolari.hover.key-tap", trace.record("thread"));
  EXPECT_TRUE(trace.entries.empty());
  loop.runUntilIdle();
  EXPECT_EQ(trace.names(), (Names{"q1", "main", "q2", "thread", "q3"}));
  EXPECT_EQ(loop.threadNames(), (Names{"nolari.hover.key-tap"}));
}

TEST(VirtualRunLoop, RunReturnsWhenIdleOrStopped) {
  VirtualRunLoop loop;
  Trace trace(loop);
  loop.post(trace.record("before"));
  loop.postAfter(1s, trace.record("later"));
  loop.run();
  EXPECT_EQ(trace.names(), (Names{"before"}));
  EXPECT_FALSE(loop.isStopped());

  loop.post([&] { loop.stop(); });
  loop.post(trace.record("after stop"));
  loop.run();
  EXPECT_TRUE(loop.isStopped());
  EXPECT_EQ(trace.names(), (Names{"before"}));
  loop.advance(1s);
  EXPECT_EQ(trace.names(), (Names{"before", "after stop", "later"}));
}

TEST(VirtualRunLoop, PostingFromAnotherThreadWhileRunning) {
  VirtualRunLoop loop;
  constexpr int COUNT = 2000;
  std::vector<int> seen;
  std::thread poster([&] {
    for (int i = 0; i < COUNT; ++i) {
      loop.post([&seen, i] { seen.push_back(i); });
      if (i % 2 == 0) loop.postAfter(1ms, [] {});
    }
  });
  while (seen.size() < COUNT / 2) loop.runUntilIdle();
  poster.join();
  loop.advance(1s);
  ASSERT_EQ(seen.size(), static_cast<size_t>(COUNT));
  for (int i = 0; i < COUNT; ++i) EXPECT_EQ(seen[i], i);
}

namespace {

// A flag that one thread raises and another waits for, with a time limit.
class Signal {
 public:
  void raise() {
    std::lock_guard lock(mutex_);
    raised_ = true;
    changed_.notify_all();
  }
  bool wait(Duration limit = 5s) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [this] { return raised_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool raised_ = false;
};

std::string currentThreadName() {
  char name[32] = {};
  pthread_getname_np(pthread_self(), name, sizeof name);
  return name;
}

// Stops a real loop after a generous limit, so that a fault fails the test
// instead of hanging it.
std::shared_ptr<nolari::platform::WorkItem> watchdog(AsioRunLoop& loop, bool& fired) {
  return loop.postAfter(5s, [&] {
    fired = true;
    loop.stop();
  });
}

}  // namespace

TEST(AsioRunLoop, RunsDelayedWorkInOrderAndSkipsCancelled) {
  AsioRunLoop loop;
  bool timedOut = false;
  auto guard = watchdog(loop, timedOut);
  std::vector<std::string> order;
  TimePoint start = loop.now();
  loop.postAfter(20ms, [&] { order.push_back("twenty"); });
  loop.postAfter(5ms, [&] { order.push_back("five"); });
  auto cancelled = loop.postAfter(10ms, [&] { order.push_back("cancelled"); });
  loop.postAfter(30ms, [&] {
    order.push_back("thirty");
    loop.stop();
  });
  loop.post([&] { order.push_back("now"); });
  cancelled->cancel();
  loop.run();
  EXPECT_FALSE(timedOut);
  EXPECT_EQ(order, (Names{"now", "five", "twenty", "thirty"}));
  EXPECT_GE(loop.now() - start, 30ms);
}

TEST(AsioRunLoop, TimersFollowTheirMovedFireDates) {
  AsioRunLoop loop;
  bool timedOut = false;
  auto guard = watchdog(loop, timedOut);
  TimePoint start = loop.now();
  std::vector<std::string> order;
  TimePoint laterFiredAt{};
  auto earlier = loop.scheduleTimer(start + 1h, [&] { order.push_back("earlier"); });
  auto later = loop.scheduleTimer(start + 1ms, [&] {
    order.push_back("later");
    laterFiredAt = loop.now();
    loop.stop();
  });
  earlier->setFireDate(start + 2ms);
  later->setFireDate(start + 25ms);
  loop.run();
  EXPECT_FALSE(timedOut);
  EXPECT_EQ(order, (Names{"earlier", "later"}));
  EXPECT_GE(laterFiredAt - start, 25ms);
  EXPECT_FALSE(earlier->isValid());
}

TEST(AsioRunLoop, PostsFromManyThreadsAllRunInEachThreadsOrder) {
  AsioRunLoop loop;
  bool timedOut = false;
  auto guard = watchdog(loop, timedOut);
  constexpr int THREADS = 4;
  constexpr int PER_THREAD = 500;
  constexpr int DELAYED_EVERY = 10;
  constexpr int EXPECTED = THREADS * (PER_THREAD + PER_THREAD / DELAYED_EVERY);
  std::vector<std::vector<int>> immediate(THREADS);
  std::vector<std::vector<int>> delayed(THREADS);
  int total = 0;
  auto counted = [&] {
    if (++total == EXPECTED) loop.stop();
  };
  std::vector<std::thread> posters;
  posters.reserve(THREADS);
  for (int t = 0; t < THREADS; ++t) {
    posters.emplace_back([&, t] {
      for (int i = 0; i < PER_THREAD; ++i) {
        if (i % DELAYED_EVERY == 0) {
          loop.postAfter(1ms, [&, t, i] {
            delayed[t].push_back(i);
            counted();
          });
        }
        loop.post([&, t, i] {
          immediate[t].push_back(i);
          counted();
        });
      }
    });
  }
  loop.run();
  for (auto& poster : posters) poster.join();
  EXPECT_FALSE(timedOut);
  for (int t = 0; t < THREADS; ++t) {
    ASSERT_EQ(immediate[t].size(), static_cast<size_t>(PER_THREAD));
    for (int i = 0; i < PER_THREAD; ++i) EXPECT_EQ(immediate[t][i], i);
    ASSERT_EQ(delayed[t].size(), static_cast<size_t>(PER_THREAD / DELAYED_EVERY));
    for (size_t i = 0; i < delayed[t].size(); ++i)
      EXPECT_EQ(delayed[t][i], static_cast<int>(i) * DELAYED_EVERY);
  }
}

TEST(AsioRunLoop, StopFromAnotherThreadEndsRun) {
  AsioRunLoop loop;
  bool timedOut = false;
  auto guard = watchdog(loop, timedOut);
  Signal running;
  loop.post([&] { running.raise(); });
  std::thread stopper([&] {
    if (running.wait()) loop.stop();
  });
  loop.run();
  stopper.join();
  EXPECT_FALSE(timedOut);

  // The loop can run again after a stop.
  bool ranAgain = false;
  loop.post([&] {
    ranAgain = true;
    loop.stop();
  });
  loop.run();
  EXPECT_TRUE(ranAgain);
}

TEST(AsioRunLoop, SerialQueueRunsTasksOneAtATimeInOrderOnItsNamedThread) {
  AsioRunLoop loop;
  auto queue = loop.makeSerialQueue("nolari.stdin.reader");
  constexpr int COUNT = 1000;
  std::vector<int> seen;
  std::atomic<int> inside{0};
  std::atomic<bool> overlapped{false};
  std::string threadName;
  Signal done;
  for (int i = 0; i < COUNT; ++i) {
    queue->post([&, i] {
      if (++inside > 1) overlapped = true;
      seen.push_back(i);
      if (i == 0) threadName = currentThreadName();
      --inside;
      if (i == COUNT - 1) done.raise();
    });
  }
  ASSERT_TRUE(done.wait());
  EXPECT_FALSE(overlapped);
  EXPECT_EQ(threadName, "nolari.stdin.re");
  ASSERT_EQ(seen.size(), static_cast<size_t>(COUNT));
  for (int i = 0; i < COUNT; ++i) EXPECT_EQ(seen[i], i);
}

TEST(AsioRunLoop, ReleasedSerialQueueFinishesWhatWasPosted) {
  AsioRunLoop loop;
  Signal release;
  Signal finished;
  {
    auto queue = loop.makeSerialQueue("q");
    queue->post([&] { release.wait(); });
    queue->post([&] { finished.raise(); });
  }
  release.raise();
  EXPECT_TRUE(finished.wait());
}

TEST(AsioRunLoop, StartedThreadCarriesItsName) {
  AsioRunLoop loop;
  std::string name;
  std::mutex nameMutex;
  Signal done;
  loop.startThread("nolari.hover.mouse-tap", [&] {
    {
      std::lock_guard lock(nameMutex);
      name = currentThreadName();
    }
    done.raise();
  });
  ASSERT_TRUE(done.wait());
  std::lock_guard lock(nameMutex);
  EXPECT_EQ(name, "nolari.hover.mo");
}

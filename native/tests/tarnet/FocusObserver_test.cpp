#include "tarnet/FocusObserver.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>

#include <nlohmann/json.hpp>

#include "support/CaptureFd.h"
#include "support/RecordingSink.h"
#include "support/SimPlatform.h"
#include "support/VirtualRunLoop.h"

namespace nolari {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

json sceneNamed(const std::string& name) {
  std::ifstream in(test::scenePath(name));
  return json::parse(in);
}

// mail_compose: Mail (501), frontmost, with its message body focused, and
// Notes (502).
json mailScene() { return sceneNamed("mail_compose"); }

// The same with nothing frontmost.
json mailSceneFromNothing() {
  json scene = sceneNamed("mail_compose");
  scene["frontmost"] = nullptr;
  return scene;
}

class FocusObserverTest : public ::testing::Test {
 protected:
  explicit FocusObserverTest(const json& scene = mailScene()) : sim_(scene, makeLoop()) {}

  std::unique_ptr<platform::RunLoop> makeLoop() {
    auto loop = std::make_unique<platform::VirtualRunLoop>();
    loop_ = loop.get();
    return loop;
  }

  // Runs `step` and returns the lines it wrote, without their line feeds;
  // its log lines are kept out of the test's output.
  template <typename Step>
  std::vector<std::string> linesOf(Step step) {
    test::CaptureFd err(STDERR_FILENO);
    sink_.clear();
    step();
    err.restore();
    std::vector<std::string> lines;
    for (auto line : sink_.lines()) {
      EXPECT_TRUE(line.ends_with('\n')) << line;
      line.pop_back();
      lines.push_back(line);
    }
    return lines;
  }

  std::vector<std::string> advance(platform::Duration by) {
    return linesOf([&] { loop_->advance(by); });
  }

  std::vector<std::string> start(const NolariConfig& config = NolariConfig()) {
    return linesOf([&] {
      observer_->start(config);
      loop_->runUntilIdle();
    });
  }

  std::vector<std::string> activate(std::int32_t pid) {
    return linesOf([&] {
      ASSERT_TRUE(sim_.desktop().activate(pid));
      loop_->runUntilIdle();
    });
  }

  // The pid and role of each focus report among `lines`; other lines as they are.
  static std::vector<std::string> summary(const std::vector<std::string>& lines) {
    std::vector<std::string> out;
    for (const auto& line : lines) {
      json j = json::parse(line);
      if (j.value("type", "") == "focus_info") {
        out.push_back("focus " + std::to_string(j["pid"].get<int>()) + " " +
                      j["role"].get<std::string>());
      } else {
        out.push_back(line);
      }
    }
    return out;
  }

  platform::VirtualRunLoop* loop_ = nullptr;
  test::SimPlatform sim_;
  test::RecordingSink sink_;
  std::shared_ptr<FocusObserver> observer_ =
      std::make_shared<FocusObserver>(sim_.accessibility(), sim_.workspace(), *loop_, sink_);
};

class FocusObserverFromNothing : public FocusObserverTest {
 protected:
  FocusObserverFromNothing() : FocusObserverTest(mailSceneFromNothing()) {}
};

class FocusObserverNameless : public FocusObserverTest {
 protected:
  static json scene() {
    json scene = mailSceneFromNothing();
    scene["applications"][1].erase("name");
    return scene;
  }
  FocusObserverNameless() : FocusObserverTest(scene()) {}
};

using Lines = std::vector<std::string>;
const std::string MAIL_BODY = "focus 501 AXTextArea";

TEST_F(FocusObserverTest, WatchesTheFrontmostApplicationAndChecksAtEachConfiguredDelay) {
  EXPECT_EQ(start(), Lines{R"x({"status":"Observing pid 501 (Mail)"})x"});
  // One report at each of 0.08, 0.15, 0.3 and 0.6 seconds, and none in between.
  platform::Duration elapsed{};
  for (auto due : {80ms, 150ms, 300ms, 600ms}) {
    EXPECT_TRUE(advance(due - 1ms - elapsed).empty()) << "before " << due.count() << " ms";
    EXPECT_EQ(summary(advance(1ms)), Lines{MAIL_BODY}) << "at " << due.count() << " ms";
    elapsed = due;
  }
  EXPECT_TRUE(advance(10s).empty());
}

TEST_F(FocusObserverFromNothing, SwitchingAwayAndBackWithinATenthOfASecond) {
  EXPECT_TRUE(start().empty());
  EXPECT_EQ(activate(502), Lines{R"x({"status":"Observing pid 502 (Notes)"})x"});
  advance(50ms);
  EXPECT_EQ(activate(501), Lines{R"x({"status":"Observing pid 501 (Mail)"})x"});
  // Notes' checks, due from 0.08 seconds on, find Mail watched and do nothing.
  EXPECT_EQ(summary(advance(2s)), (Lines{MAIL_BODY, MAIL_BODY, MAIL_BODY, MAIL_BODY}));
}

TEST_F(FocusObserverTest, DelaysOutsideTheUsualRangeAreBounded) {
  NolariConfig config;
  config.observer.focusRetryDelays = {-1, 1e300};
  // The negative delay is no delay: its check runs as soon as the loop does.
  EXPECT_EQ(summary(start(config)),
            (Lines{R"x({"status":"Observing pid 501 (Mail)"})x", MAIL_BODY}));
  EXPECT_TRUE(advance(std::chrono::hours(23)).empty());
  EXPECT_EQ(summary(advance(std::chrono::hours(1))), Lines{MAIL_BODY});
}

TEST_F(FocusObserverNameless, ApplicationWithoutANameIsUnknown) {
  start();
  auto lines = linesOf([&] {
    sim_.desktop().failNextAddNotification(-25200);
    sim_.desktop().activate(502);
    loop_->advance(100ms);
  });
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0],
            R"x({"error": "Failed to add notification for pid 502 (Unknown), code: -25200"})x");
  EXPECT_EQ(json::parse(lines[1])["app_name"], "Unknown");
}

// Notes is watched, but Mail is in front again before any notice says so:
// the checks report Notes' own focus, never Mail's body under Notes' pid.
TEST_F(FocusObserverTest, AReportNeverPairsTheWatchedApplicationWithAnotherOnesField) {
  start();
  advance(1s);
  EXPECT_EQ(summary(activate(502)), (Lines{R"x({"status":"Observing pid 502 (Notes)"})x"}));
  sim_.workspace().desktop()->withState(
      [](platform::SimDesktop::State& state) { state.model.frontmost = 501; });
  const auto lines = advance(1s);
  ASSERT_FALSE(lines.empty());
  for (const auto& line : lines) {
    EXPECT_EQ(json::parse(line)["value_preview"], "milk, bread") << line;
  }
}

TEST_F(FocusObserverTest, ChecksAndNoticesOutlivingTheObserverDoNothing) {
  start();
  sim_.desktop().focus("cc_field");
  observer_.reset();
  EXPECT_TRUE(linesOf([&] {
                loop_->advance(1s);
                sim_.desktop().activate(502);
                loop_->advance(1s);
              }).empty());
}

}  // namespace
}  // namespace nolari

// The rating after a write, on the simulated desktop and virtual time: the
// delayed show below the field, the front-application guard, the debounced
// hide on application switches, a click on each star, the time-out, and
// floods and bad members of "write_success".

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "AgentFixture.h"
#include "ambrel/agent/Ambrel.h"
#include "support/CaptureFd.h"

namespace nolari {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using platform::Point;
using platform::Rect;

constexpr std::int32_t MAIL = 501, NOTES = 502;
// The compose body is at (210, 220, 780, 440) in bottom-left coordinates; the
// widget goes 6 points below it.
const Point BELOW_BODY{210, 186};

class WriteSuccessTest : public test::AgentTest {
 protected:
  WriteSuccessTest() : AgentTest("mail_compose") {}
  explicit WriteSuccessTest(const char* scene) : AgentTest(scene) {}
  explicit WriteSuccessTest(const json& scene) : AgentTest(scene) {}

  // On the simulated desktop's windows, which the widget's clicks reach.
  void SetUp() override {
    start(NolariConfig(), &sim_.windowing());
    // A key seen keeps the tap check quiet.
    taps_.keyboard->callback(test::keyDown(0));
    taken();
  }

  void write(const std::string& members) {
    std::string line = R"({"type":"write_success")";
    line += members;
    line += "}\n";
    agent_->consumeCommandData(line);
    loop_->runUntilIdle();
  }
  void activate(std::int32_t pid) {
    sim_.desktop().activate(pid);
    loop_->runUntilIdle();
  }

  std::optional<platform::SimWindowRecord> widget() { return sim_.desktop().window("feedback"); }
  bool shown() {
    auto record = widget();
    return record && record->visible;
  }
  // A click on the middle of star `star` (1 to 5).
  void clickStar(int star) {
    const Rect frame = widget()->frame;
    sim_.desktop().click({frame.minX() + 18 + (star - 1) * 20, frame.minY() + 14});
    loop_->runUntilIdle();
  }
  int logged(const std::string& text) {
    auto lines = stderr_.lines();
    return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const auto& line) {
      return line.find(text) != std::string::npos;
    }));
  }

  test::CaptureFd stderr_{2};
};

TEST_F(WriteSuccessTest, ShowsBelowTheFocusedFieldAfterTheDelayAndTakesARatingFromEachStar) {
  for (int star = 1; star <= 5; ++star) {
    write(
        R"(,"task_id":"t","prompt_key":"fix","app_name":"Mail","source_bundle_id":"com.example.mail")");
    advance(199ms);
    EXPECT_FALSE(shown());
    advance(1ms);
    ASSERT_TRUE(shown());
    EXPECT_EQ(widget()->frame, (Rect{BELOW_BODY, {116, 28}}));
    clickStar(star);
    // A second click during the fade writes nothing.
    clickStar(star);
    EXPECT_EQ(recorder_.take(), std::vector<json>{json({{"type", "feedback_submitted"},
                                                        {"rating", star},
                                                        {"task_id", "t"},
                                                        {"prompt_key", "fix"},
                                                        {"app_name", "Mail"},
                                                        {"feedback_method", "star_tap"}})});
    advance(250ms);
    EXPECT_FALSE(shown());
    // Rated: the time-out stays quiet.
    advance(10s);
    EXPECT_EQ(recorder_.take(), std::vector<json>{});
  }
  EXPECT_EQ(logged("[INFO] feedback write_success: immediateAX=Optional((210.0, 220.0, 780.0, "
                   "440.0)) lastField=(0.0, 0.0, 0.0, 0.0) anchorRect=Optional((210.0, 220.0, "
                   "780.0, 440.0)) expectedBundleId=com.example.mail"),
            5);
  EXPECT_EQ(logged("[INFO] feedback guard: front=com.example.mail expected=com.example.mail "
                   "ours= match=true"),
            5);
  EXPECT_EQ(logged("[INFO] feedback: installing app-switch observer (expected=com.example.mail)"),
            5);
}

TEST_F(WriteSuccessTest, StarsLightUnderThePointerAndTheirHitAreasReachTwoPointsOut) {
  write(R"(,"source_bundle_id":"com.example.mail")");
  advance(200ms);
  const Rect frame = widget()->frame;
  auto lit = [&] {
    int count = 0;
    const auto record = widget();
    for (const auto& item : record->content.items) {
      auto* run = std::get_if<platform::TextRun>(&item.content);
      if (run && run->color == ambrel::FeedbackView::LIT_COLOR) ++count;
    }
    return count;
  };
  sim_.desktop().moveMouse({frame.minX() + 58, frame.minY() + 14});
  loop_->runUntilIdle();
  EXPECT_EQ(lit(), 3);
  sim_.desktop().moveMouse({frame.minX() - 20, frame.minY() + 14});
  loop_->runUntilIdle();
  EXPECT_EQ(lit(), 0);
  // 3 points left of the first cell is outside; 1 point left rates 1.
  sim_.desktop().click({frame.minX() + 7, frame.minY() + 14});
  loop_->runUntilIdle();
  EXPECT_EQ(recorder_.take(), std::vector<json>{});
  sim_.desktop().click({frame.minX() + 9, frame.minY() + 14});
  loop_->runUntilIdle();
  auto events = recorder_.take();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0]["rating"], 1);
  EXPECT_EQ(lit(), 1);
}

TEST_F(WriteSuccessTest, TimesOutOnceAndASecondWriteStartsAFreshCycle) {
  write(R"(,"task_id":"first","source_bundle_id":"com.example.mail")");
  advance(5s);
  ASSERT_TRUE(shown());
  write(R"(,"task_id":"second","source_bundle_id":"com.example.mail")");
  EXPECT_FALSE(shown());  // at once, without a fade
  advance(200ms);
  EXPECT_TRUE(shown());
  advance(7999ms);
  EXPECT_EQ(recorder_.take(), std::vector<json>{});
  advance(1ms);
  EXPECT_EQ(recorder_.take(), std::vector<json>{json({{"type", "feedback_dismissed"},
                                                      {"task_id", "second"},
                                                      {"prompt_key", "write"},
                                                      {"app_name", "unknown"},
                                                      {"dismiss_method", "auto"}})});
  advance(250ms);
  EXPECT_FALSE(shown());
  advance(30s);
  EXPECT_EQ(recorder_.take(), std::vector<json>{});
}

TEST_F(WriteSuccessTest, TheFrontApplicationGuardsTheShowAndASwitchAwayHidesAfterTheDebounce) {
  // Gone to another application before the show: no widget.
  write(R"(,"source_bundle_id":"com.example.mail")");
  advance(100ms);
  activate(NOTES);
  advance(100ms);
  EXPECT_FALSE(widget() && widget()->visible);
  EXPECT_EQ(logged("[INFO] feedback guard: front=com.example.notes expected=com.example.mail "
                   "ours= match=false"),
            1);
  EXPECT_EQ(logged("[INFO] feedback: frontmost app changed before show — skipping"), 1);

  // Away and back inside the debounce: the widget stays.
  activate(MAIL);
  write(R"(,"source_bundle_id":"com.example.mail")");
  advance(200ms);
  ASSERT_TRUE(shown());
  activate(NOTES);
  advance(1100ms);
  activate(MAIL);
  advance(2s);
  EXPECT_TRUE(shown());
  EXPECT_EQ(logged("[INFO] feedback: app activated=com.example.notes"), 1);

  // Away for good: faded out 1.2 seconds later, without an event, and the
  // observer is gone.
  activate(NOTES);
  advance(1199ms);
  EXPECT_TRUE(shown());
  advance(1ms);
  EXPECT_EQ(logged("[INFO] feedback: app switched (debounced) — hiding widget"), 1);
  advance(200ms);
  EXPECT_FALSE(shown());
  activate(MAIL);
  EXPECT_EQ(logged("[INFO] feedback: app activated="), 3);
  advance(20s);
  EXPECT_EQ(recorder_.take(), std::vector<json>{});
}

TEST_F(WriteSuccessTest, AFloodOfBadMembersShowsOneWidgetWithDefaultsAndForgesNoLogLines) {
  for (int i = 0; i < 1000; ++i) {
    agent_->consumeCommandData(
        R"({"type":"write_success","task_id":5,"prompt_key":null,"app_name":["x"],"field_rect":"x","source_bundle_id":7})"
        "\n");
  }
  loop_->runUntilIdle();
  advance(200ms);
  EXPECT_TRUE(shown());
  EXPECT_EQ(logged("feedback guard:"), 1);
  advance(8s);
  EXPECT_EQ(recorder_.take(), std::vector<json>{json({{"type", "feedback_dismissed"},
                                                      {"task_id", ""},
                                                      {"prompt_key", "write"},
                                                      {"app_name", "unknown"},
                                                      {"dismiss_method", "auto"}})});
  write(R"(,"source_bundle_id":"com.example.mail\n[ambrel] [INFO] forged\\")");
  advance(200ms);
  EXPECT_EQ(logged("com.example.mail\\x0a[ambrel] [INFO] forged\\x5c"), 2);
  EXPECT_EQ(logged("forged"), 2);
}

TEST_F(WriteSuccessTest, AParentsFieldRectIsHeldInsideTheScreenAndABadOneIsIgnored) {
  // At the bottom right corner: the widget goes above the field and 4
  // points inside the visible frame's right edge.
  write(R"(,"field_rect":{"x":1400,"y":2,"w":100,"h":20})");
  advance(200ms);
  ASSERT_TRUE(shown());
  EXPECT_EQ(widget()->frame, (Rect{{1320, 28}, {116, 28}}));
  EXPECT_EQ(logged("[INFO] feedback guard: no expected bundleId → pass-through"), 1);
  // A frame of negative width is no field: the focused one is used.
  write(R"(,"field_rect":{"x":1400,"y":2,"w":-100,"h":20})");
  advance(200ms);
  EXPECT_EQ(widget()->frame, (Rect{BELOW_BODY, {116, 28}}));
}

class WriteSuccessWithoutFieldsTest : public WriteSuccessTest {
 protected:
  WriteSuccessWithoutFieldsTest() : WriteSuccessTest("app_without_windows") {}
};

TEST_F(WriteSuccessWithoutFieldsTest, WithoutAnyFieldFrameTheWidgetIsCentredBelowTheBlob) {
  write(R"(,"source_bundle_id":"com.example.menuclock")");
  advance(200ms);
  ASSERT_TRUE(shown());
  const Rect blob = sim_.desktop().window("action-blob")->frame;
  EXPECT_EQ(widget()->frame,
            (Rect{{blob.minX() + blob.size.width / 2 - 58, blob.minY() - 34}, {116, 28}}));
  EXPECT_EQ(logged("[WARN] feedback: no field rect, falling back to blob anchor"), 1);
}

// Neither Ambrel nor the other application has an identifier: only Ambrel's
// own process counts as Ambrel in front.
class WriteSuccessWithoutIdentifiersTest : public WriteSuccessTest {
 protected:
  WriteSuccessWithoutIdentifiersTest()
      : WriteSuccessTest(json{
            {"screens", {{{"frame", {0, 0, 1440, 900}}}}},
            {"frontmost", 911},
            {"applications",
             {{{"pid", 911}, {"name", "Unnamed"}}, {{"pid", ::getpid()}, {"name", "Ambrel"}}}}}) {}
};

TEST_F(WriteSuccessWithoutIdentifiersTest, AnApplicationWithoutAnIdentifierIsNotAmbrel) {
  write(R"(,"source_bundle_id":"com.example.mail")");
  advance(200ms);
  EXPECT_FALSE(widget() && widget()->visible);
  EXPECT_EQ(logged("[INFO] feedback guard: front= expected=com.example.mail ours= match=false"), 1);
  activate(::getpid());
  write(R"(,"source_bundle_id":"com.example.mail")");
  advance(200ms);
  EXPECT_TRUE(shown());
}

}  // namespace
}  // namespace nolari

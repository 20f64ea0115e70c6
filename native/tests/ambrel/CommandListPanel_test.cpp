// The command list on virtual time: where it is placed, what it draws, how the
// keyboard and the mouse move through it and pick a row, every way it goes,
// and the "show_list" command that shows it.

#include "ambrel/panels/CommandListPanel.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>

#include "AgentFixture.h"
#include "ambrel/blob/DesignTokens.h"
#include "ambrel/panels/PanelPlacement.h"
#include "support/CaptureFd.h"
#include "support/SimPlatform.h"
#include "support/VirtualRunLoop.h"

namespace nolari {
namespace {

using namespace std::chrono_literals;
using ambrel::CommandListItem;
using ambrel::CommandListMode;
using ambrel::CommandListPanel;
using ambrel::FlipDirection;
using nlohmann::json;
using platform::KeyEvent;
using platform::Point;
using platform::PointerEvent;
using platform::Rect;
using platform::Screen;
namespace Tokens = ambrel::BlobDesignTokens;

constexpr std::int32_t MAIL = 501;
constexpr std::int32_t NOTES = 502;
constexpr std::int32_t OWN_PID = 4242;

// The simulated workspace, recording which applications were activated.
class RecordingWorkspace : public platform::Workspace {
 public:
  explicit RecordingWorkspace(platform::Workspace& inner) : inner_(inner) {}
  std::optional<platform::RunningApplication> frontmostApplication() override {
    return inner_.frontmostApplication();
  }
  std::optional<platform::RunningApplication> runningApplication(std::int32_t pid) override {
    return inner_.runningApplication(pid);
  }
  bool activate(const platform::RunningApplication& app) override {
    activated.push_back(app.pid);
    return true;
  }
  std::vector<Screen> screens() override { return inner_.screens(); }
  std::optional<Screen> mainScreen() override { return inner_.mainScreen(); }
  Point mouseLocation() override { return inner_.mouseLocation(); }
  ObserverToken addActivationObserver(ActivationHandler handler) override {
    ++observers;
    return inner_.addActivationObserver(std::move(handler));
  }
  void removeActivationObserver(ObserverToken token) override {
    --observers;
    inner_.removeActivationObserver(token);
  }

  std::vector<std::int32_t> activated;
  int observers = 0;

 private:
  platform::Workspace& inner_;
};

std::vector<CommandListItem> numberedItems(int count) {
  std::vector<CommandListItem> items;
  for (int i = 0; i < count; ++i) {
    const std::string n = std::to_string(i);
    items.push_back({"cmd" + n, "preview " + n, "full " + n});
  }
  return items;
}

KeyEvent key(platform::KeyCode code, std::uint64_t flags = 0) { return {code, flags, false}; }

TEST(PanelPlacement, FlipsAndClampsInsideTheVisibleFrameOfTheAnchorsScreen) {
  const std::vector<Screen> screens = {{{{0, 0}, {1440, 900}}, {{0, 0}, {1440, 875}}},
                                       {{{1440, 0}, {800, 600}}, {{1440, 40}, {800, 560}}}};
  const auto main = screens[0];
  auto place = [&](std::optional<Rect> caret, Rect field = {}) {
    return ambrel::computePanelFrame(caret, field, 300, 100, screens, main);
  };
  // Below the caret, its top 6 points under the caret's bottom.
  EXPECT_EQ(place(Rect{{200, 500}, {2, 18}}),
            (ambrel::PanelPlacement{{{200, 394}, {300, 100}}, FlipDirection::below}));
  // At the bottom of the screen: above, 6 points over the caret's top.
  EXPECT_EQ(place(Rect{{200, 20}, {2, 18}}),
            (ambrel::PanelPlacement{{{200, 44}, {300, 100}}, FlipDirection::above}));
  // Near the right edge of the second screen: its right edge 8 inside.
  EXPECT_EQ(place(Rect{{2200, 300}, {2, 18}}).frame.maxX(), 2240 - 8);
  // Wider than the screen: the right edge wins.
  EXPECT_EQ(ambrel::computePanelFrame(Rect{{1500, 300}, {2, 18}}, {}, 900, 100, screens, main)
                .frame.origin.x,
            2240 - 8 - 900);
  // Without a caret, a mark at the left of the field's top 20 points.
  EXPECT_EQ(place(std::nullopt, {{100, 400}, {500, 60}}).frame.origin, (Point{100, 334}));
  // A zero caret is no caret; with neither, centred above the idle blob.
  EXPECT_EQ(place(Rect{}).frame.origin,
            (Point{570, 14 + Tokens::BlobSize::idleHover.height + 6 + 100 - 6 - 100}));
  // No screen at all: a 1440 by 900 one at the origin.
  EXPECT_EQ(ambrel::computePanelFrame(std::nullopt, {}, 300, 100, {}, std::nullopt).frame.origin.x,
            570);

  EXPECT_EQ(ambrel::describeRect(Rect{{10, 20.5}, {300, 0.1}}), "(10.0, 20.5, 300.0, 0.1)");
  EXPECT_EQ(ambrel::describeRect(std::optional(Rect{{-3, 1e-3}, {1e7, 2}})),
            "Optional((-3.0, 0.001, 10000000.0, 2.0))");
  EXPECT_EQ(ambrel::describeRect(std::optional<Rect>()), "nil");
}

TEST(CommandListView, MeasuresTheTriggerColumnOverAllItemsAndDrawsTheFirstRows) {
  test::FixedMeasurer text;
  auto items = numberedItems(12);
  // Beyond the drawn rows, and wider than the cap.
  items[10].trigger = std::string(40, 'w');
  const auto metrics = ambrel::measureCommandList(items, text);
  EXPECT_EQ(metrics.triggerColumnWidth, 90);
  EXPECT_EQ(ambrel::commandListHeight(items.size()), 8 * 30 + 16);
  EXPECT_EQ(ambrel::commandListHeight(0), 16);

  const platform::Size size{300, ambrel::commandListHeight(items.size())};
  const auto list = ambrel::drawCommandList(items, 2, metrics, size);
  std::vector<std::string> texts;
  for (const auto& item : list.items) {
    if (auto* run = std::get_if<platform::TextRun>(&item.content)) {
      texts.push_back(run->text);
      if (run->text == "preview 2") {
        EXPECT_EQ(run->origin.x, 14 + 90 + 8);
        EXPECT_EQ(run->width, 300 - 112 - 14);
        EXPECT_EQ(run->color, Tokens::Text::secondary);
      }
    }
  }
  EXPECT_EQ(texts.size(), 16u);
  EXPECT_EQ(texts.back(), "preview 7");

  EXPECT_EQ(ambrel::commandListRowIndex({50, 8 + 2 * 30 + 1}, items.size(), size), 2u);
  EXPECT_EQ(ambrel::commandListRowIndex({50, 7}, items.size(), size), std::nullopt);
  EXPECT_EQ(ambrel::commandListRowIndex({50, 8 + 8 * 30}, items.size(), size), std::nullopt);
  EXPECT_EQ(ambrel::commandListRowIndex({50, 1e300}, items.size(), size), std::nullopt);
}

class CommandListPanelTest : public testing::Test {
 protected:
  CommandListPanelTest() : sim_("mail_compose", makeLoop()), workspace_(sim_.workspace()) {
    list_ = CommandListPanel::create(windowing_, workspace_, *loop_, recorder_, OWN_PID);
    window_ = windowing_.named[CommandListPanel::WINDOW_NAME];
  }
  std::unique_ptr<platform::RunLoop> makeLoop() {
    auto loop = std::make_unique<platform::VirtualRunLoop>();
    loop_ = loop.get();
    return loop;
  }
  void show(int count = 10, CommandListMode mode = CommandListMode::list) {
    list_->show(numberedItems(count), {}, Rect{{200, 500}, {2, 18}}, mode);
    loop_->advance(300ms);
  }
  void press(platform::KeyCode code, std::uint64_t flags = 0) {
    ASSERT_TRUE(window_->keys);
    window_->keys(key(code, flags));
  }
  void pointer(PointerEvent::Type type, std::size_t row) {
    window_->pointer({type, {60, 8 + 30 * static_cast<double>(row) + 15}});
  }
  // Mouse downs the monitors see, bottom-left points.
  void mouseDown(Point at) {
    auto monitors = windowing_.mouseDowns;
    for (auto& [token, handler] : monitors) handler(at);
    loop_->runUntilIdle();
  }

  platform::VirtualRunLoop* loop_ = nullptr;
  test::SimPlatform sim_;
  RecordingWorkspace workspace_;
  test::FakeWindowing windowing_;
  test::EventRecorder recorder_;
  std::shared_ptr<CommandListPanel> list_;
  std::shared_ptr<test::FakeWindow> window_;
};

TEST_F(CommandListPanelTest, KeysMoveOverTheDrawnRowsAndReturnPicksTheHighlightedOne) {
  test::CaptureFd err(STDERR_FILENO);
  list_->show(numberedItems(10), {}, Rect{{200, 500}, {2, 18}}, CommandListMode::history);
  // It starts 6 points nearer the caret, transparent, and grows in.
  EXPECT_EQ(window_->rect.origin.y, 238 + 6);
  EXPECT_EQ(window_->opacity, 0);
  loop_->advance(300ms);
  EXPECT_EQ(window_->rect, (Rect{{200, 238}, {300, 256}}));
  EXPECT_EQ(window_->opacity, 1);
  EXPECT_TRUE(window_->visible);
  EXPECT_EQ(window_->name, "Nolari command list");
  EXPECT_TRUE(list_->isListVisible());
  EXPECT_NE(err.text().find("CommandListPanel.show mode=history items=10 frame=(200.0, 238.0, "
                            "300.0, 256.0) flipped=below caret=Optional((200.0, 500.0, 2.0, "
                            "18.0))"),
            std::string::npos);

  press(125, platform::EventFlags::shift);  // Shift-Down moves down
  press(116);                               // Page Up from 1: 0
  EXPECT_EQ(list_->focusedIndex(), 0u);
  press(121);
  press(121);
  press(121);  // Page Down stops at the last drawn row
  EXPECT_EQ(list_->focusedIndex(), 7u);
  press(125);
  EXPECT_EQ(list_->focusedIndex(), 7u);
  press(115);
  press(119);
  EXPECT_EQ(list_->focusedIndex(), 7u);
  press(56);  // Shift alone
  EXPECT_TRUE(list_->isListVisible());
  EXPECT_TRUE(recorder_.take().empty());

  press(36);
  EXPECT_EQ(recorder_.take(),
            test::lines({R"({"type":"list_selected","trigger":"cmd7","full_text":"full 7",)"
                         R"("mode":"history"})"}));
  EXPECT_FALSE(list_->isListVisible());
  EXPECT_FALSE(window_->holdsKeyboard());
  EXPECT_EQ(workspace_.activated, std::vector<std::int32_t>{MAIL});
  EXPECT_TRUE(list_->isAnimatingOut());
  loop_->advance(300ms);
  EXPECT_FALSE(window_->visible);
  EXPECT_EQ(window_->opacity, 0);
  EXPECT_TRUE(windowing_.mouseDowns.empty());
  EXPECT_EQ(workspace_.observers, 0);
}

TEST_F(CommandListPanelTest, EveryDismissalSaysSoOnceAndReturnsTheFocusOnlyWhenTheUserDidNot) {
  const auto dismissed = test::lines({R"({"type":"list_dismissed","mode":"list"})"});
  // Escape, a typed letter and Command-period give the focus back.
  for (auto [code, flags] :
       {std::pair<int, std::uint64_t>{53, 0}, {0, 0}, {47, platform::EventFlags::command}}) {
    show();
    press(static_cast<platform::KeyCode>(code), flags);
    EXPECT_EQ(recorder_.take(), dismissed) << code;
    loop_->advance(300ms);
  }
  EXPECT_EQ(workspace_.activated, (std::vector<std::int32_t>{MAIL, MAIL, MAIL}));
  workspace_.activated.clear();

  // A click on the panel's frame is no dismissal; one elsewhere is, and the
  // focus stays where the click put it.
  show();
  mouseDown({250, 300});
  EXPECT_TRUE(recorder_.take().empty());
  mouseDown({900, 100});
  EXPECT_EQ(recorder_.take(), dismissed);
  EXPECT_TRUE(windowing_.mouseDowns.empty());
  loop_->advance(300ms);

  // A return to Mail is no dismissal; a switch to Notes is.
  show();
  sim_.desktop().activate(MAIL);
  loop_->runUntilIdle();
  EXPECT_TRUE(recorder_.take().empty());
  sim_.desktop().activate(NOTES);
  loop_->runUntilIdle();
  EXPECT_EQ(recorder_.take(), dismissed);
  EXPECT_TRUE(workspace_.activated.empty());
  loop_->advance(300ms);
  sim_.desktop().activate(MAIL);
  loop_->runUntilIdle();

  // Left alone: a navigation key starts the time-out over, then it fires.
  test::CaptureFd err(STDERR_FILENO);
  show();
  loop_->advance(10s);
  press(125);
  loop_->advance(10s);
  EXPECT_TRUE(recorder_.take().empty());
  loop_->advance(2s);
  EXPECT_EQ(recorder_.take(), dismissed);
  EXPECT_NE(err.text().find("CommandListPanel: inactivity timeout"), std::string::npos);
  EXPECT_EQ(workspace_.activated, std::vector<std::int32_t>{MAIL});
}

TEST_F(CommandListPanelTest, AClickPicksTheRowItWasPressedAndReleasedOn) {
  show();
  pointer(PointerEvent::Type::pressed, 2);
  EXPECT_EQ(list_->focusedIndex(), 2u);
  EXPECT_TRUE(recorder_.take().empty());
  pointer(PointerEvent::Type::released, 2);
  EXPECT_EQ(recorder_.take(),
            test::lines({R"({"type":"list_selected","trigger":"cmd2","full_text":"full 2",)"
                         R"("mode":"list"})"}));
  // An empty list draws no row and picks nothing.
  loop_->advance(300ms);
  show(0);
  EXPECT_EQ(window_->rect.size.height, 16);
  press(125);
  press(36);
  pointer(PointerEvent::Type::pressed, 0);
  pointer(PointerEvent::Type::released, 0);
  EXPECT_TRUE(recorder_.take().empty());
  EXPECT_TRUE(list_->isListVisible());
}

TEST_F(CommandListPanelTest, ANewShowingReplacesTheOldOneAndSurvivesItsFade) {
  show();
  show(3);
  EXPECT_TRUE(recorder_.take().empty());
  EXPECT_EQ(windowing_.mouseDowns.size(), 1u);
  EXPECT_EQ(workspace_.observers, 1);
  EXPECT_EQ(window_->rect.size.height, 3 * 30 + 16);
  mouseDown({900, 100});
  EXPECT_EQ(recorder_.take().size(), 1u);

  // Shown again while the fade runs: the fade's end leaves it on screen.
  show();
  press(53);
  loop_->advance(50ms);
  list_->show(numberedItems(2), {}, Rect{{200, 500}, {2, 18}}, CommandListMode::list);
  loop_->advance(1s);
  EXPECT_TRUE(window_->visible);
  EXPECT_EQ(window_->opacity, 1);
  EXPECT_TRUE(list_->isListVisible());
  EXPECT_FALSE(list_->isAnimatingOut());
  EXPECT_TRUE(window_->holdsKeyboard());

  // The hide of the write hotkey: at once, without an event.
  recorder_.take();
  list_->hide(false);
  EXPECT_FALSE(window_->visible);
  EXPECT_TRUE(recorder_.take().empty());
}

class ShowListCommandTest : public test::AgentTest {
 protected:
  ShowListCommandTest() : AgentTest("mail_compose") {}
};

TEST_F(ShowListCommandTest, ReadsItemsRectanglesAndModeAndTheWriteHotkeyHidesTheList) {
  start();
  test::CaptureFd err(STDERR_FILENO);
  command(R"({"type":"show_list","items":[{"trigger":"a","preview":"b"},{"preview":"c"},5]})");
  loop_->runUntilIdle();
  EXPECT_FALSE(windowing_.named.contains(CommandListPanel::WINDOW_NAME));
  command(R"({"type":"show_list","items":[{"trigger":"a","preview":"b"},{"preview":"c"},)"
          R"({"trigger":"d","preview":7}],"field_rect":{"x":10,"y":20},)"
          R"("caret_rect":{"x":1e300,"y":0,"w":2,"h":18},"mode":"History"})");
  loop_->advance(300ms);
  command(R"({"type":"show_list","items":[],"field_rect":{"x":"10"},"caret_rect":{"h":2}})");
  loop_->advance(300ms);
  const std::string log = err.text();
  EXPECT_NE(log.find("[WARN] show_list: missing or invalid items"), std::string::npos);
  EXPECT_NE(log.find("show_list: 1 items mode=list fieldRect=(10.0, 20.0, 0.0, 0.0) caret=nil"),
            std::string::npos);
  EXPECT_NE(log.find("show_list: 0 items mode=list fieldRect=(0.0, 0.0, 0.0, 0.0) "
                     "caret=Optional((0.0, 0.0, 0.0, 2.0))"),
            std::string::npos);
  auto window = windowing_.named[CommandListPanel::WINDOW_NAME];
  ASSERT_TRUE(window);
  EXPECT_TRUE(window->visible);

  command(R"({"type":"set_shortcuts","write_accel":"command+shift+x"})");
  taken();
  taps_.keyboard->callback(
      test::keyDown(7, platform::EventFlags::command | platform::EventFlags::shift));
  loop_->runUntilIdle();
  EXPECT_FALSE(window->visible);
  advance(100ms);
  EXPECT_TRUE(taken().empty());
}

}  // namespace
}  // namespace nolari

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <future>
#include <thread>

#include "platform/Platform.h"
#include "platform/sim/Control.h"
#include "platform/sim/ControlChannel.h"
#include "platform/sim/EventTaps.h"
#include "platform/sim/Workspace.h"
#include "support/CaptureFd.h"
#include "support/TempDir.h"
#include "support/VirtualRunLoop.h"

// The simulated taps driven the way a test drives a program: control lines
// applied on the main loop, the taps run on threads of their own.

namespace nolari::platform {

// Found by argument lookup, which the anonymous namespace would hide them from.
static bool operator==(const TapEvent& a, const TapEvent& b) {
  return a.type == b.type && a.key == b.key && a.mouseLocation == b.mouseLocation;
}

[[maybe_unused]] static void PrintTo(const TapEvent& e, std::ostream* os) {
  *os << "{type " << static_cast<int>(e.type) << ", key " << e.key.keyCode << ", flags 0x"
      << std::hex << e.key.flags << std::dec << (e.key.autorepeat ? ", repeat" : "") << ", at "
      << e.mouseLocation.x << "," << e.mouseLocation.y << "}";
}

namespace {

using nlohmann::json;
using namespace std::chrono_literals;
using Type = TapEvent::Type;

TapEvent keyEvent(Type type, KeyCode code, std::uint64_t flags = 0, bool autorepeat = false) {
  return TapEvent{type, KeyEvent{code, flags, autorepeat}, {}};
}

class SimEventTapsTest : public ::testing::Test {
 protected:
  void connect(const json& scene = json::object()) {
    const std::string file = dir_.file("scene.json");
    std::ofstream(file) << scene.dump();
    platform_.runLoop = std::make_unique<VirtualRunLoop>();
    std::string error;
    ASSERT_TRUE(connectPlatform(platform_, {.desktop = true, .eventTaps = true},
                                {.platform = "sim", .simScene = file}, error))
        << error;
    control_ =
        std::make_unique<SimControl>(static_cast<SimWorkspace&>(*platform_.workspace).desktop());
  }

  // A tap whose callback records what it sees and answers with `answer`,
  // running on a thread of its own until the test ends.
  std::shared_ptr<EventTap> start(bool keyboard,
                                  const std::function<TapAnswer(const TapEvent&)>& answer) {
    TapCallback callback = [this, keyboard, answer](const TapEvent& event) {
      std::lock_guard lock(mutex_);
      (keyboard ? keys_ : moves_).push_back(event);
      seen_.notify_all();
      return answer(event);
    };
    auto tap = keyboard ? platform_.eventTaps->createKeyboardTap(callback)
                        : platform_.eventTaps->createMouseTap(callback);
    if (tap) {
      tap->setEnabled(true);
      threads_.emplace_back([tap] { tap->run(); });
    }
    return tap;
  }

  std::string apply(std::string_view line) {
    std::string error;
    return SimControlChannel::apply(line, *control_, *platform_.runLoop, error) ? "applied" : error;
  }

  // What the applications received once every key sent so far went past the tap.
  std::string typed() {
    auto promise = std::make_shared<std::promise<std::string>>();
    auto future = promise->get_future();
    control_->whenTyped([promise](const std::string& text) { promise->set_value(text); });
    if (future.wait_for(5s) != std::future_status::ready) return "<no answer from the tap>";
    return future.get();
  }

  std::vector<TapEvent> keys() {
    std::lock_guard lock(mutex_);
    return keys_;
  }

  void TearDown() override {
    platform_ = Platform{};
    for (auto& thread : threads_) thread.join();
  }

  test::TempDir dir_;
  Platform platform_;
  std::unique_ptr<SimControl> control_;
  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::condition_variable seen_;
  std::vector<TapEvent> keys_;
  std::vector<TapEvent> moves_;
};

TapAnswer swallowSpaceRepeats(const TapEvent& event) {
  return event.key.keyCode == 49 && event.key.autorepeat ? TapAnswer::swallow : TapAnswer::pass;
}

TEST_F(SimEventTapsTest, TheCallbackSeesEveryKeyAndTheApplicationsOnlyWhatItPassed) {
  connect();
  auto keyboard = start(true, swallowSpaceRepeats);
  auto mouse = start(false, [](const TapEvent&) { return TapAnswer::swallow; });
  ASSERT_TRUE(keyboard && mouse);
  for (const char* line : {
           R"({"op":"key_down","key":"space"})",
           R"({"op":"key_down","key":"space","repeat":true})",
           R"({"op":"key_down","key":"space","repeat":true})",
           R"({"op":"key_up","key":"space"})",
           R"({"op":"key","key":"x","modifiers":["command","shift"]})",
           R"({"op":"key","key":4,"flags":131072})",
           R"({"op":"key","key":"return"})",
           R"({"op":"key","key":50})",
           R"({"op":"mouse_move","x":10,"y":20.5})",
       }) {
    EXPECT_EQ(apply(line), "applied") << line;
  }
  // A listen-only tap's answer does not matter: the pointer moved.
  EXPECT_EQ(platform_.workspace->mouseLocation().y, 20.5);
  EXPECT_EQ(typed(), " {command+shift+x}H{return}{#50}");

  test::CaptureFd out(STDOUT_FILENO);
  EXPECT_EQ(apply(R"({"op":"report_typed"})"), "applied");
  typed();
  out.restore();
  EXPECT_EQ(out.lines(),
            std::vector<std::string>{R"({"typed":" {command+shift+x}H{return}{#50}"})"});

  const auto cmdShift = EventFlags::command | EventFlags::shift;
  EXPECT_EQ(keys(), (std::vector<TapEvent>{
                        keyEvent(Type::keyDown, 49), keyEvent(Type::keyDown, 49, 0, true),
                        keyEvent(Type::keyDown, 49, 0, true), keyEvent(Type::keyUp, 49),
                        keyEvent(Type::keyDown, 7, cmdShift), keyEvent(Type::keyUp, 7, cmdShift),
                        keyEvent(Type::keyDown, 4, EventFlags::shift),
                        keyEvent(Type::keyUp, 4, EventFlags::shift), keyEvent(Type::keyDown, 36),
                        keyEvent(Type::keyUp, 36), keyEvent(Type::keyDown, 50),
                        keyEvent(Type::keyUp, 50)}));
  std::unique_lock lock(mutex_);
  seen_.wait_for(lock, 5s, [this] { return !moves_.empty(); });
  EXPECT_EQ(moves_, (std::vector<TapEvent>{{Type::mouseMoved, {}, Point{10, 20.5}}}));
}

TEST_F(SimEventTapsTest, ATurnedOffTapGetsTheNoticeAndMissesKeysUntilTurnedOnAgain) {
  connect();
  auto keyboard = start(true, swallowSpaceRepeats);
  ASSERT_TRUE(keyboard);
  EXPECT_EQ(apply(R"({"op":"key","key":"a"})"), "applied");
  EXPECT_EQ(apply(R"({"op":"disable_tap","tap":"keyboard","by":"timeout"})"), "applied");
  EXPECT_EQ(apply(R"({"op":"key_down","key":"space"})"), "applied");
  EXPECT_EQ(apply(R"({"op":"key_down","key":"space","repeat":true})"), "applied");
  EXPECT_EQ(typed(), "a  ");
  EXPECT_FALSE(keyboard->isEnabled());

  keyboard->setEnabled(true);
  EXPECT_EQ(apply(R"({"op":"key_down","key":"space","repeat":true})"), "applied");
  EXPECT_EQ(apply(R"({"op":"disable_tap","tap":"keyboard","by":"user_input"})"), "applied");
  EXPECT_EQ(typed(), "a  ");
  EXPECT_EQ(keys(), (std::vector<TapEvent>{keyEvent(Type::keyDown, 0), keyEvent(Type::keyUp, 0),
                                           TapEvent{Type::tapDisabledByTimeout, {}, {}},
                                           keyEvent(Type::keyDown, 49, 0, true),
                                           TapEvent{Type::tapDisabledByUserInput, {}, {}}}));
  EXPECT_EQ(apply(R"({"op":"disable_tap","tap":"mouse","by":"timeout"})"),
            "the program holds no mouse tap");
}

TEST_F(SimEventTapsTest, TheSceneRefusesATapOrMakesOneThatHearsNothing) {
  connect({{"keyboard_tap", "silent"}, {"mouse_tap", "refused"}});
  EXPECT_FALSE(start(false, [](const TapEvent&) { return TapAnswer::pass; }));
  auto keyboard = start(true, [](const TapEvent&) { return TapAnswer::swallow; });
  ASSERT_TRUE(keyboard);
  EXPECT_EQ(apply(R"({"op":"key","key":"q"})"), "applied");
  EXPECT_EQ(apply(R"({"op":"disable_tap","tap":"keyboard","by":"timeout"})"), "applied");
  EXPECT_EQ(typed(), "q");
  EXPECT_TRUE(keys().empty());

  std::string error;
  EXPECT_FALSE(SimDesktop::fromJSON({{"keyboard_tap", "maybe"}}, error));
  EXPECT_EQ(error, R"(keyboard_tap: expected "ok", "refused" or "silent", found "maybe")");
  EXPECT_FALSE(SimDesktop::fromJSON({{"mouse_tap", false}}, error));
  EXPECT_EQ(error, R"(mouse_tap: expected "ok", "refused" or "silent", found a boolean)");
}

TEST_F(SimEventTapsTest, MalformedKeyAndTapLinesSayWhy) {
  connect();
  EXPECT_EQ(apply(R"({"op":"key_down"})"),
            R"("key" must be a key name or a key code from 0 to 65534)");
  EXPECT_EQ(apply(R"({"op":"key","key":65535})"),
            R"("key" must be a key name or a key code from 0 to 65534)");
  EXPECT_EQ(apply(R"({"op":"key_up","key":"Space"})"), R"(no key is named "Space")");
  EXPECT_EQ(apply(R"({"op":"key","key":"x","flags":-1})"),
            R"("flags" must be a non-negative integer)");
  EXPECT_EQ(
      apply(R"({"op":"key","key":"x","modifiers":["command","hyper"]})"),
      R"("modifiers" must be an array of "command", "shift", "control", "option" and "capslock")");
  EXPECT_EQ(
      apply(R"({"op":"key","key":"x","modifiers":"shift"})"),
      R"("modifiers" must be an array of "command", "shift", "control", "option" and "capslock")");
  EXPECT_EQ(apply(R"({"op":"key_down","key":"x","repeat":1})"), R"("repeat" must be a boolean)");
  EXPECT_EQ(apply(R"({"op":"mouse_move","x":1})"), R"("y" must be a number)");
  EXPECT_EQ(apply(R"({"op":"disable_tap","tap":"trackpad","by":"timeout"})"),
            R"("tap" must be "keyboard" or "mouse")");
  EXPECT_EQ(apply(R"({"op":"disable_tap","tap":"keyboard","by":["timeout"]})"),
            R"("by" must be "timeout" or "user_input")");
  EXPECT_EQ(apply(R"({"op":"disable_tap","tap":"keyboard","by":"timeout"})"),
            "the program holds no keyboard tap");
  EXPECT_EQ(typed(), "");
}

}  // namespace
}  // namespace nolari::platform

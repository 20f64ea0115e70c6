// The agent on virtual time with fake taps: the exact event lines, in order,
// at the exact moments.

#include "ambrel/agent/Ambrel.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>

#include "AgentFixture.h"

namespace nolari {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using platform::TapAnswer;
using platform::TapEvent;
using test::keyDown;
using test::keyUp;
using test::lines;
namespace Flags = platform::EventFlags;

constexpr platform::KeyCode SPACE = 49, X = 7, A = 0;
const std::vector<json> NONE;

class AmbrelTest : public test::AgentTest {
 protected:
  explicit AmbrelTest(const json& scene = {{"trusted", true}}) : AgentTest(scene) {}

  TapAnswer key(const TapEvent& event) { return taps_.keyboard->callback(event); }

  // Space hold on with the given delay; its status line is dropped.
  void spaceHold(int delayMs) {
    command(R"({"type":"dictation_set_space_hold","enabled":true,"delay_ms":)" +
            std::to_string(delayMs) + "}");
    taken();
  }
};

TEST_F(AmbrelTest, StartsWithTheStartupLineAndRunsBothTapsOnNamedThreads) {
  start();
  EXPECT_EQ(
      taken(),
      std::vector<json>{json(
          {{"type", "status"}, {"event", "startup"}, {"trusted", true}, {"pid", ::getpid()}})});
  EXPECT_EQ(loop_->threadNames(),
            (std::vector<std::string>{"nolari.commands", "nolari.hover.key-tap",
                                      "nolari.hover.mouse-tap"}));
  for (auto* tap : {taps_.keyboard.get(), taps_.mouse.get()}) {
    EXPECT_TRUE(tap->enabled && tap->ran);
  }
  // Space hold is off by default: the space bar repeats as usual.
  EXPECT_EQ(taps_.keyboard->repeatsSwallowed,
            (std::vector<std::pair<platform::KeyCode, bool>>{{SPACE, false}}));
}

TEST_F(AmbrelTest, TapCheckThreeSecondsAfterStartReportsWhatNeverCame) {
  start();
  taken();
  advance(2999ms);
  EXPECT_EQ(taken(), NONE);
  advance(1ms);
  EXPECT_EQ(
      taken(),
      lines(
          {R"({"type":"error","event":"event_tap_no_events","message":"CGEventTap created but received 0 events after 3s. Grant Input Monitoring permission to Ambrel in System Settings."})"}));
}

TEST_F(AmbrelTest, TapCheckWithMouseMovesButNoKeyReportsTheMissingKeyboard) {
  start();
  taken();
  for (int i = 0; i < 2; ++i) taps_.mouse->callback({TapEvent::Type::mouseMoved, {}, {10, 20}});
  key(keyUp(A));  // a key up is not a key down
  advance(3s);
  EXPECT_EQ(
      taken(),
      lines(
          {R"({"type":"error","event":"event_tap_no_keyboard","message":"CGEventTap receives mouse events but no keyboard events. Grant Input Monitoring permission in System Settings → Privacy & Security → Input Monitoring.","mouseEvents":3})"}));
}

TEST_F(AmbrelTest, TapCheckAfterAKeyPressWritesNothing) {
  start();
  taken();
  EXPECT_EQ(key(keyDown(A)), TapAnswer::pass);
  advance(10s);
  EXPECT_EQ(taken(), NONE);
}

TEST_F(AmbrelTest, KeyboardTapRefusedEndsStartUpWithOneErrorButCommandsAreRead) {
  taps_.refuseKeyboard = true;
  start();
  taken();
  EXPECT_FALSE(taps_.mouse);
  command(R"({"type":"dictation_arm"})");
  advance(10s);
  EXPECT_EQ(taken(),
            lines({R"({"type":"dictation_ptt_down","mode":"dictation","source":"stdin"})"}));
}

TEST_F(AmbrelTest, MouseTapRefusedWarnsAndKeepsTheKeyboardWithoutTapCheck) {
  taps_.refuseMouse = true;
  start();
  EXPECT_EQ(taken().back(),
            json::parse(R"({"type":"warn","event":"mouse_event_tap_create_failed"})"));
  advance(10s);
  EXPECT_EQ(taken(), NONE);
  EXPECT_TRUE(taps_.keyboard->enabled);
}

TEST_F(AmbrelTest, DisabledTapsAreEnabledAgainTheKeyboardOneWithAWarning) {
  start();
  taken();
  taps_.keyboard->enabled = false;
  EXPECT_EQ(key({TapEvent::Type::tapDisabledByTimeout, {}, {}}), TapAnswer::pass);
  EXPECT_TRUE(taps_.keyboard->enabled);
  taps_.keyboard->enabled = false;
  key({TapEvent::Type::tapDisabledByUserInput, {}, {}});
  EXPECT_TRUE(taps_.keyboard->enabled);
  taps_.mouse->enabled = false;
  taps_.mouse->callback({TapEvent::Type::tapDisabledByTimeout, {}, {}});
  EXPECT_TRUE(taps_.mouse->enabled);
  EXPECT_EQ(taken(), lines({R"({"type":"warn","event":"key_tap_reenabled"})",
                            R"({"type":"warn","event":"key_tap_reenabled"})"}));
}

TEST_F(AmbrelTest, SettingCommandsReportWhatIsNowSet) {
  start();
  taken();
  command(R"({"type":"set_shortcuts","write_accel":"command+shift+x"})");
  command(R"({"type":"set_shortcuts","write_accel":"command+shift"})");
  command(R"({"type":"set_shortcuts","write_accel":""})");
  command(R"({"type":"set_shortcuts","write_accel":5})");
  command(R"({"type":"dictation_set_hotkey","command_accel":"ctrl+f5"})");
  command(R"({"type":"dictation_set_hotkey"})");
  command(R"({"type":"dictation_set_space_hold","enabled":true,"delay_ms":400})");
  command(R"({"type":"dictation_set_space_hold"})");
  command(R"({"type":"dictation_set_space_hold","enabled":true,"delay_ms":10})");
  // Zero, negative and mistyped delays keep the delay; "enabled" of another type is false.
  command(R"({"type":"dictation_set_space_hold","enabled":true,"delay_ms":0})");
  command(R"({"type":"dictation_set_space_hold","enabled":"yes","delay_ms":-1})");
  command(R"({"type":"dictation_set_space_hold","enabled":true,"delay_ms":"700"})");
  // Whole milliseconds of what was set: 1001 stays 1001, and a huge delay is clamped to a day.
  command(R"({"type":"dictation_set_space_hold","enabled":true,"delay_ms":1001})");
  command(R"({"type":"dictation_set_space_hold","enabled":true,"delay_ms":250.9})");
  command(R"({"type":"dictation_set_space_hold","enabled":true,"delay_ms":1e300})");
  EXPECT_EQ(
      taken(),
      lines({
          R"({"type":"status","event":"hotkey_updated","write_accel":"command+shift+x","parsed":true})",
          R"({"type":"status","event":"hotkey_updated","write_accel":"command+shift","parsed":false})",
          R"({"type":"status","event":"dictation_command_hotkey_updated","accel":"ctrl+f5","parsed":true})",
          R"({"type":"status","event":"dictation_space_hold_updated","enabled":true,"delay_ms":400})",
          R"({"type":"status","event":"dictation_space_hold_updated","enabled":false,"delay_ms":400})",
          R"({"type":"status","event":"dictation_space_hold_updated","enabled":true,"delay_ms":50})",
          R"({"type":"status","event":"dictation_space_hold_updated","enabled":true,"delay_ms":50})",
          R"({"type":"status","event":"dictation_space_hold_updated","enabled":false,"delay_ms":50})",
          R"({"type":"status","event":"dictation_space_hold_updated","enabled":true,"delay_ms":50})",
          R"({"type":"status","event":"dictation_space_hold_updated","enabled":true,"delay_ms":1001})",
          R"({"type":"status","event":"dictation_space_hold_updated","enabled":true,"delay_ms":250})",
          R"({"type":"status","event":"dictation_space_hold_updated","enabled":true,"delay_ms":86400000})",
      }));
  // The tap is told each time whether the space bar's repeats are swallowed.
  EXPECT_EQ(taps_.keyboard->repeatsSwallowed.size(), 10u);
  EXPECT_EQ(taps_.keyboard->repeatsSwallowed.back(), std::make_pair(SPACE, true));
  EXPECT_EQ(taps_.keyboard->repeatsSwallowed[2], std::make_pair(SPACE, false));
  EXPECT_EQ(taps_.keyboard->repeatsSwallowed[5], std::make_pair(SPACE, false));
}

TEST_F(AmbrelTest, CommandHotkeyIsPushToTalkWithExactModifiers) {
  start();
  command(R"({"type":"dictation_set_hotkey","command_accel":"command+shift+x"})");
  taken();
  // An extra modifier is no match; Caps Lock and fn do not count.
  EXPECT_EQ(key(keyDown(X, Flags::command | Flags::shift | Flags::alternate)), TapAnswer::pass);
  EXPECT_EQ(taken(), NONE);
  EXPECT_EQ(key(keyDown(X, Flags::command | Flags::shift | Flags::alphaShift | Flags::secondaryFn)),
            TapAnswer::pass);
  EXPECT_EQ(key(keyDown(X, Flags::command | Flags::shift, true)), TapAnswer::pass);
  EXPECT_EQ(key(keyDown(X, Flags::command | Flags::shift, true)), TapAnswer::pass);
  // Modifiers released first: the main key's release still ends the press.
  EXPECT_EQ(key(keyUp(X)), TapAnswer::pass);
  key(keyUp(X));
  EXPECT_EQ(taken(), lines({R"({"type":"dictation_ptt_down","mode":"command","source":"keyDown"})",
                            R"({"type":"dictation_ptt_up","mode":"command","source":"keyUp"})"}));
}

TEST_F(AmbrelTest, ParentArmsAndDisarms) {
  start();
  command(R"({"type":"dictation_set_hotkey","command_accel":"cmd+x"})");
  command(R"({"type":"set_shortcuts","write_accel":"cmd+x"})");
  taken();
  // "dictation_arm" changes no state: the release that follows says "dictation".
  command(R"({"type":"dictation_arm","mode":"command"})");
  command(R"({"type":"dictation_disarm"})");
  // During a hotkey press the parent's release ends it; the key's release then writes nothing.
  key(keyDown(X, Flags::command));
  command(R"({"type":"dictation_disarm"})");
  key(keyUp(X, Flags::command));
  command(R"({"type":"dictation_arm","mode":5})");
  EXPECT_EQ(taken(),
            lines({R"({"type":"dictation_ptt_down","mode":"command","source":"stdin"})",
                   R"({"type":"dictation_ptt_up","mode":"dictation","source":"stdin"})",
                   R"({"type":"dictation_ptt_down","mode":"command","source":"keyDown"})",
                   R"({"type":"dictation_ptt_up","mode":"command","source":"stdin"})",
                   R"({"type":"dictation_ptt_down","mode":"dictation","source":"stdin"})"}));
}

TEST_F(AmbrelTest, HoldingSpaceStartsDictationAfterTheDelayAndSwallowsOnlyItsRepeats) {
  start();
  spaceHold(250);
  EXPECT_EQ(key(keyDown(SPACE)), TapAnswer::pass);
  advance(100ms);
  EXPECT_EQ(key(keyDown(SPACE, 0, true)), TapAnswer::swallow);
  advance(149ms);
  EXPECT_EQ(taken(), NONE);
  advance(1ms);
  EXPECT_EQ(taken(),
            lines({R"({"type":"dictation_ptt_down","mode":"dictation","source":"spaceHold"})"}));
  EXPECT_EQ(key(keyDown(SPACE, 0, true)), TapAnswer::swallow);
  // Other keys pass and do not end the dictation; the command hotkey is ignored.
  command(R"({"type":"dictation_set_hotkey","command_accel":"a"})");
  taken();
  EXPECT_EQ(key(keyDown(A)), TapAnswer::pass);
  key(keyUp(A));
  EXPECT_EQ(key(keyUp(SPACE)), TapAnswer::pass);
  EXPECT_EQ(taken(),
            lines({R"({"type":"dictation_ptt_up","mode":"dictation","source":"spaceHold"})"}));
  // Idle again: repeats pass.
  EXPECT_EQ(key(keyDown(SPACE, 0, true)), TapAnswer::pass);
}

TEST_F(AmbrelTest, SpaceHoldEndsBeforeTheDelayWithoutEvents) {
  start();
  spaceHold(250);
  // A short tap.
  key(keyDown(SPACE));
  advance(200ms);
  key(keyUp(SPACE));
  advance(1s);
  // Another key pressed while space is held.
  key(keyDown(SPACE));
  EXPECT_EQ(key(keyDown(A)), TapAnswer::pass);
  advance(1s);
  EXPECT_EQ(key(keyDown(SPACE, 0, true)), TapAnswer::pass);
  key(keyUp(SPACE));
  // Switched off while held.
  key(keyDown(SPACE));
  command(R"({"type":"dictation_set_space_hold","enabled":false})");
  taken();
  advance(1s);
  key(keyUp(SPACE));
  // Off: repeats pass, nothing starts.
  key(keyDown(SPACE));
  EXPECT_EQ(key(keyDown(SPACE, 0, true)), TapAnswer::pass);
  advance(1s);
  EXPECT_EQ(taken(), NONE);
}

TEST_F(AmbrelTest, SpaceHoldDuringACommandPressTypesSpaces) {
  start();
  spaceHold(250);
  command(R"({"type":"dictation_set_hotkey","command_accel":"ctrl+f5"})");
  key(keyDown(96, Flags::control));
  taken();
  key(keyDown(SPACE));
  EXPECT_EQ(key(keyDown(SPACE, 0, true)), TapAnswer::pass);
  advance(1s);
  EXPECT_EQ(taken(), NONE);
}

TEST_F(AmbrelTest, ReleaseByTheParentLeavesTheSpaceReleaseSilent) {
  start();
  spaceHold(250);
  key(keyDown(SPACE));
  advance(250ms);
  command(R"({"type":"dictation_disarm"})");
  EXPECT_EQ(key(keyDown(SPACE, 0, true)), TapAnswer::pass);
  key(keyUp(SPACE));
  EXPECT_EQ(taken(),
            lines({R"({"type":"dictation_ptt_down","mode":"dictation","source":"spaceHold"})",
                   R"({"type":"dictation_ptt_up","mode":"dictation","source":"stdin"})"}));
}

// The release of a dictation the parent ended may never be seen (another
// program took the key up). A later short tap is a new hold, and its release
// before the delay ends it: no press is written after the key is up.
TEST_F(AmbrelTest, ShortTapAfterAnUnseenReleaseStartsNothing) {
  start();
  spaceHold(250);
  key(keyDown(SPACE));
  advance(250ms);
  command(R"({"type":"dictation_disarm"})");
  taken();
  key(keyDown(SPACE));
  advance(100ms);
  key(keyUp(SPACE));
  advance(1s);
  EXPECT_EQ(taken(), NONE);
}

TEST_F(AmbrelTest, DelaysFromTheConfigurationHaveAFloor) {
  NolariConfig config;
  config.dictation.spaceHoldEnabled = true;
  config.dictation.spaceHoldDelay = 0.01;
  start(config);
  EXPECT_EQ(taps_.keyboard->repeatsSwallowed,
            (std::vector<std::pair<platform::KeyCode, bool>>{{SPACE, true}}));
  taken();
  key(keyDown(SPACE));
  advance(49ms);
  EXPECT_EQ(taken(), NONE);
  advance(1ms);
  EXPECT_EQ(taken(),
            lines({R"({"type":"dictation_ptt_down","mode":"dictation","source":"spaceHold"})"}));
}

class UntrustedAmbrelTest : public AmbrelTest {
 protected:
  UntrustedAmbrelTest() : AmbrelTest({{"trusted", false}}) {}
};

TEST_F(UntrustedAmbrelTest, StartupLineSaysSo) {
  start();
  EXPECT_EQ(taken().front()["trusted"], false);
}

}  // namespace
}  // namespace nolari

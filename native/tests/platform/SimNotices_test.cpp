#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "platform/sim/Control.h"
#include "platform/sim/Workspace.h"
#include "support/SimPlatform.h"
#include "support/VirtualRunLoop.h"

namespace nolari::platform {
namespace {

struct Delivery {
  AXUIElement element;
  std::string notification;
};

class SimNotices : public ::testing::Test {
 protected:
  SimNotices() : sim_("mail_compose", makeLoop()) {}

  std::unique_ptr<RunLoop> makeLoop() {
    auto loop = std::make_unique<VirtualRunLoop>();
    loop_ = loop.get();
    return loop;
  }

  // An observer of `pid` registered for focus changes on its application
  // element and scheduled on the virtual loop.
  std::shared_ptr<AXObserver> watch(std::int32_t pid) {
    auto& ax = sim_.accessibility();
    std::shared_ptr<AXObserver> observer;
    EXPECT_EQ(ax.createObserver(
                  pid,
                  [this](const AXUIElement& element, const std::string& notification) {
                    deliveries_.push_back({element, notification});
                  },
                  observer),
              AXErrorCode::success);
    EXPECT_EQ(ax.addNotification(*observer, ax.createApplication(pid), "AXFocusedUIElementChanged"),
              AXErrorCode::success);
    ax.scheduleObserver(*observer, *loop_);
    return observer;
  }

  VirtualRunLoop* loop_ = nullptr;
  test::SimPlatform sim_;
  std::vector<Delivery> deliveries_;
};

TEST_F(SimNotices, FocusChangeReachesScheduledObserversOnTheLoop) {
  auto observer = watch(501);
  ASSERT_TRUE(sim_.desktop().focus("subject_field"));
  EXPECT_TRUE(deliveries_.empty());  // not before the loop runs
  loop_->runUntilIdle();
  ASSERT_EQ(deliveries_.size(), 1u);
  EXPECT_EQ(deliveries_[0].element, sim_.desktop().element("subject_field"));
  EXPECT_EQ(deliveries_[0].notification, "AXFocusedUIElementChanged");

  // Focus in another application is not this observer's business.
  ASSERT_TRUE(sim_.desktop().focus("note_text"));
  loop_->runUntilIdle();
  EXPECT_EQ(deliveries_.size(), 1u);
}

TEST_F(SimNotices, UnscheduledOrDroppedObserversHearNothing) {
  auto observer = watch(501);
  sim_.accessibility().unscheduleObserver(*observer);
  ASSERT_TRUE(sim_.desktop().focus("cc_field"));
  loop_->runUntilIdle();
  EXPECT_TRUE(deliveries_.empty());

  // Dropped between the focus change and the loop running.
  sim_.accessibility().scheduleObserver(*observer, *loop_);
  ASSERT_TRUE(sim_.desktop().focus("to_field"));
  observer.reset();
  loop_->runUntilIdle();
  EXPECT_TRUE(deliveries_.empty());
}

TEST_F(SimNotices, RegistrationFailuresAndDuplicates) {
  auto& ax = sim_.accessibility();
  std::shared_ptr<AXObserver> observer;
  sim_.desktop().failNextObserverCreate(AXErrorCode::cannotComplete);
  EXPECT_EQ(ax.createObserver(
                501, [](const AXUIElement&, const std::string&) {}, observer),
            AXErrorCode::cannotComplete);
  EXPECT_EQ(observer, nullptr);
  ASSERT_EQ(ax.createObserver(
                501, [](const AXUIElement&, const std::string&) {}, observer),
            AXErrorCode::success);

  auto app = ax.createApplication(501);
  sim_.desktop().failNextAddNotification(AXErrorCode::notificationUnsupported);
  EXPECT_EQ(ax.addNotification(*observer, app, "AXFocusedUIElementChanged"),
            AXErrorCode::notificationUnsupported);
  EXPECT_EQ(ax.addNotification(*observer, app, "AXFocusedUIElementChanged"), AXErrorCode::success);
  EXPECT_EQ(ax.addNotification(*observer, app, "AXFocusedUIElementChanged"),
            AXErrorCode::notificationAlreadyRegistered);
  EXPECT_EQ(ax.addNotification(*observer, ax.createApplication(502), "AXFocusedUIElementChanged"),
            AXErrorCode::illegalArgument);
  ASSERT_TRUE(sim_.desktop().quitApplication(501));
  EXPECT_EQ(ax.addNotification(*observer, app, "AXValueChanged"), AXErrorCode::invalidUIElement);
}

TEST_F(SimNotices, ActivationNoticesArriveOnTheMainLoop) {
  auto& workspace = *sim_.platform().workspace;
  std::vector<std::optional<RunningApplication>> notices;
  auto token = workspace.addActivationObserver(
      [&](const std::optional<RunningApplication>& app) { notices.push_back(app); });

  ASSERT_TRUE(sim_.desktop().activate(502));
  EXPECT_TRUE(notices.empty());
  EXPECT_EQ(workspace.frontmostApplication()->pid, 502);
  loop_->runUntilIdle();
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0], (RunningApplication{502, "Notes", "com.example.notes"}));

  sim_.desktop().announceActivationWithoutApplication();
  EXPECT_FALSE(sim_.desktop().activate(999));
  loop_->runUntilIdle();
  ASSERT_EQ(notices.size(), 2u);
  EXPECT_EQ(notices[1], std::nullopt);

  workspace.removeActivationObserver(token);
  ASSERT_TRUE(sim_.desktop().activate(501));
  loop_->runUntilIdle();
  EXPECT_EQ(notices.size(), 2u);
}

TEST_F(SimNotices, ReadsFromAnotherThreadWhileTheDesktopIsDriven) {
  auto observer = watch(501);
  auto& ax = sim_.accessibility();
  // A tap thread hit-tests and reads while the main thread moves focus and
  // the front application.
  std::thread reader([&] {
    auto system = ax.createSystemWide();
    for (int i = 0; i < 200; ++i) {
      AXUIElement found;
      AXValue value;
      ax.copyElementAtPosition(system, 300, 300, found);
      ax.copyAttributeValue(system, "AXFocusedUIElement", value);
      ax.copyAttributeValue(found, "AXRole", value);
    }
  });
  for (int i = 0; i < 50; ++i) {
    sim_.desktop().focus(i % 2 ? "to_field" : "body");
    sim_.desktop().activate(i % 2 ? 502 : 501);
    loop_->runUntilIdle();
  }
  reader.join();
  EXPECT_EQ(deliveries_.size(), 50u);
  EXPECT_EQ(ax.counts()["copyElementAtPosition"]["total"], 200);
}

// --- Choosing the backend ----------------------------------------------------------

PlatformEnvironment simulated(const std::string& scene) {
  return {.platform = "sim",
          .simScene = test::scenePath(scene),
          .speechScript = std::string(NOLARI_TESTS_DIR) + "/sondra/transcripts/speech.json"};
}

TEST(ConnectPlatform, SimulatedDesktopOnlyWhenAsked) {
  Platform platform;
  std::string error;
  ASSERT_TRUE(connectPlatform(platform, {.desktop = true}, simulated("browser_page"), error))
      << error;
  EXPECT_TRUE(platform.accessibility->isProcessTrusted(false));
  EXPECT_EQ(platform.workspace->frontmostApplication()->bundleIdentifier, "com.example.browser");
  ASSERT_NE(platform.runLoop, nullptr);
  EXPECT_EQ(platform.speech, nullptr);

  Platform real;
  ASSERT_TRUE(connectPlatform(real, {.desktop = true}, {}, error)) << error;
  EXPECT_FALSE(real.accessibility->isProcessTrusted(false));
  EXPECT_FALSE(real.workspace->frontmostApplication());
  AXValue value;
  EXPECT_EQ(real.accessibility->copyAttributeValue(real.accessibility->createSystemWide(),
                                                   "AXFocusedUIElement", value),
            AXErrorCode::apiDisabled);
}

// Desktop and speech share the one run loop, which a program's own loop
// replaces: notices from both arrive on it, and nothing outlives it.
TEST(ConnectPlatform, DesktopAndSpeechTogetherOnTheProgramsLoop) {
  Platform platform;
  auto* loop = new VirtualRunLoop;
  platform.runLoop.reset(loop);
  std::string error;
  ASSERT_TRUE(connectPlatform(platform, {.desktop = true, .speech = true},
                              simulated("mail_compose"), error))
      << error;
  ASSERT_EQ(platform.runLoop.get(), loop);
  ASSERT_NE(platform.speech, nullptr);
  std::vector<std::int32_t> activated;
  platform.workspace->addActivationObserver([&](const std::optional<RunningApplication>& app) {
    activated.push_back(app ? app->pid : 0);
  });
  bool answered = false;
  platform.speech->requestAuthorization([&] { answered = true; });
  auto& workspace = static_cast<SimWorkspace&>(*platform.workspace);
  ASSERT_TRUE(SimControl(workspace.desktop()).activate(502));
  loop->runUntilIdle();
  EXPECT_EQ(activated, std::vector<std::int32_t>{502});
  EXPECT_TRUE(answered);
}

TEST(ConnectPlatform, BadSettingsAreErrorsNotAnEmptyDesktop) {
  Platform platform;
  std::string error;
  EXPECT_FALSE(connectPlatform(platform, {.desktop = true}, {.platform = "sim"}, error));
  EXPECT_EQ(error, "NOLARI_PLATFORM=sim needs NOLARI_SIM_SCENE to name a scene file");

  EXPECT_FALSE(connectPlatform(platform, {.desktop = true},
                               {.platform = "sim", .simScene = "/nonexistent/scene.json"}, error));
  EXPECT_EQ(error,
            "scene file /nonexistent/scene.json: cannot be read (No such file or directory)");
  EXPECT_EQ(platform.accessibility, nullptr);

  EXPECT_FALSE(connectPlatform(platform, {.speech = true}, {.platform = "sim"}, error));
  EXPECT_EQ(error, "NOLARI_PLATFORM=sim needs NOLARI_SPEECH_SCRIPT to name a speech script");

  EXPECT_FALSE(connectPlatform(platform, {.desktop = true}, {.platform = "simulated"}, error));
  EXPECT_NE(error.find("NOLARI_PLATFORM=simulated"), std::string::npos) << error;
}

TEST(ConnectPlatform, TheEnvironmentIsReadInOnePlace) {
  ::setenv("NOLARI_PLATFORM", "sim", 1);
  ::setenv("NOLARI_SIM_SCENE", "scene.json", 1);
  ::setenv("NOLARI_SPEECH_MODEL_DIR", "model", 1);
  const PlatformEnvironment environment = PlatformEnvironment::fromProcess();
  ::unsetenv("NOLARI_PLATFORM");
  ::unsetenv("NOLARI_SIM_SCENE");
  ::unsetenv("NOLARI_SPEECH_MODEL_DIR");
  EXPECT_EQ(environment.platform, "sim");
  EXPECT_EQ(environment.simScene, "scene.json");
  EXPECT_EQ(environment.speechModelDir, "model");
  EXPECT_EQ(environment.simControl, "");
}

TEST(ConnectPlatform, TheRealWindowsNeedADisplay) {
  const char* display = std::getenv("DISPLAY");
  const std::string saved = display ? display : "";
  ::unsetenv("DISPLAY");
  Platform platform;
  std::string error;
  EXPECT_FALSE(connectPlatform(platform, {.windows = true}, {}, error));
  if (!saved.empty()) ::setenv("DISPLAY", saved.c_str(), 1);
  EXPECT_FALSE(platform.windowing);
  EXPECT_NE(error.find("DISPLAY is not set"), std::string::npos) << error;
}

}  // namespace
}  // namespace nolari::platform

#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <thread>

#include "DesktopFixture.h"
#include "platform/asio/RunLoop.h"
#include "platform/atspi/Accessibility.h"
#include "platform/atspi/AtspiSession.h"
#include "platform/x11/Workspace.h"
#include "platform/x11/X11Desktop.h"

// The real backends in this process, against the compose window on a desktop
// of the test's own.

namespace nolari::platform {
namespace {

using namespace std::chrono_literals;

std::optional<AXValue> read(Accessibility& ax, const AXUIElement& element, std::string_view name) {
  AXValue value;
  if (ax.copyAttributeValue(element, name, value) != AXErrorCode::success) return std::nullopt;
  return value;
}

std::string text(Accessibility& ax, const AXUIElement& element, std::string_view name) {
  auto value = read(ax, element, name);
  const auto* s = value ? value->get<std::string>() : nullptr;
  return s ? *s : "<none>";
}

AXUIElement element(Accessibility& ax, const AXUIElement& from, std::string_view name) {
  auto value = read(ax, from, name);
  const auto* e = value ? value->get<AXUIElement>() : nullptr;
  return e ? *e : AXUIElement();
}

std::optional<Rect> frame(Accessibility& ax, const AXUIElement& e) {
  auto position = read(ax, e, "AXPosition");
  auto size = read(ax, e, "AXSize");
  if (!position || !size || !position->get<Point>() || !size->get<Size>()) return std::nullopt;
  return Rect{*position->get<Point>(), *size->get<Size>()};
}

AXUIElement findByRole(Accessibility& ax, const AXUIElement& root, const std::string& role,
                       const std::string& value) {
  std::vector<AXUIElement> queue{root};
  for (std::size_t i = 0; i < queue.size() && i < 500; ++i) {
    if (text(ax, queue[i], "AXRole") == role && text(ax, queue[i], "AXValue") == value) {
      return queue[i];
    }
    if (auto children = read(ax, queue[i], "AXChildren")) {
      for (const auto& child : *children->get<AXArray>())
        queue.push_back(*child.get<AXUIElement>());
    }
  }
  return {};
}

// The bus connection lasts as long as the process, so the tests of one
// process share a desktop and a session.
std::shared_ptr<AtspiSession> busSession() {
  static const auto session = std::make_shared<AtspiSession>();
  return session;
}

class LinuxBackendTest : public test::DesktopFixture {
 protected:
  void SetUp() override {
    openComposer("to");
    if (desktop_) desktop_->exportEnvironment();
  }
};

TEST_F(LinuxBackendTest, ReadsTheComposeWindowThroughTheSystemWideElement) {
  auto x11 = std::make_shared<X11Desktop>();
  AtspiAccessibility ax(
      busSession(), [x11] { return x11->activeProcess(); },
      [x11](int x, int y) { return x11->processAt(x, y); });
  ASSERT_TRUE(ax.isProcessTrusted(false));
  AXUIElement systemWide = ax.createSystemWide();
  EXPECT_EQ(text(ax, systemWide, "AXRole"), "AXSystemWide");

  AXUIElement to = element(ax, systemWide, "AXFocusedUIElement");
  ASSERT_TRUE(to);
  EXPECT_EQ(text(ax, to, "AXRole"), "AXTextField");
  EXPECT_EQ(text(ax, to, "AXValue"), "ann@example.com");
  EXPECT_EQ(text(ax, to, "AXRoleDescription"), "text");
  EXPECT_EQ(text(ax, to, "AXTitle"), "<none>");
  auto focused = read(ax, to, "AXFocused");
  ASSERT_TRUE(focused && focused->get<bool>());
  EXPECT_TRUE(*focused->get<bool>());
  EXPECT_EQ(text(ax, element(ax, to, "AXTitleUIElement"), "AXValue"), "To:");
  EXPECT_EQ(text(ax, element(ax, to, "AXParent"), "AXRole"), "AXGroup");
  EXPECT_EQ(text(ax, element(ax, to, "AXWindow"), "AXTitle"), "New Message");
  EXPECT_EQ(text(ax, element(ax, to, "AXWindow"), "AXRole"), "AXWindow");
  bool settable = false;
  EXPECT_EQ(ax.isAttributeSettable(to, "AXValue", settable), AXErrorCode::success);
  EXPECT_TRUE(settable);
  std::int32_t pid = 0;
  EXPECT_EQ(ax.getPid(to, pid), AXErrorCode::success);
  EXPECT_EQ(pid, desktop_->composerPid());

  auto field = frame(ax, to);
  ASSERT_TRUE(field);
  EXPECT_GT(field->size.width, 100);
  EXPECT_GT(field->size.height, 10);
  EXPECT_TRUE((Rect{{0, 0}, {1280, 1024}}.contains(field->origin)));

  // A GTK entry selects its text when focused from the keyboard; either way
  // the selection is a range within the text.
  auto range = read(ax, to, "AXSelectedTextRange");
  ASSERT_TRUE(range && range->get<TextRange>());
  EXPECT_LE(range->get<TextRange>()->location + range->get<TextRange>()->length, 15);
  AXValue bounds;
  ASSERT_EQ(ax.copyParameterizedAttributeValue(to, "AXBoundsForRange", TextRange{0, 3}, bounds),
            AXErrorCode::success);
  ASSERT_TRUE(bounds.get<Rect>());
  EXPECT_TRUE(field->contains(bounds.get<Rect>()->origin));

  AXUIElement app = element(ax, systemWide, "AXFocusedApplication");
  EXPECT_EQ(app, ax.createApplication(desktop_->composerPid()));
  EXPECT_EQ(text(ax, app, "AXRole"), "AXApplication");
  EXPECT_EQ(text(ax, app, "AXTitle"), "nolari-mail");
  EXPECT_EQ(text(ax, element(ax, app, "AXFocusedWindow"), "AXTitle"), "New Message");
  EXPECT_EQ(element(ax, app, "AXFocusedUIElement"), to);
  EXPECT_FALSE(read(ax, app, "AXParent"));

  AXUIElement window = element(ax, app, "AXMainWindow");
  AXUIElement status = findByRole(ax, window, "AXStaticText", "Draft saved");
  ASSERT_TRUE(status);
  EXPECT_EQ(ax.isAttributeSettable(status, "AXValue", settable), AXErrorCode::success);
  EXPECT_FALSE(settable);
  EXPECT_EQ(ax.setAttributeValue(status, "AXValue", AXValue("x")),
            AXErrorCode::attributeUnsupported);
  EXPECT_TRUE(
      findByRole(ax, window, "AXTextArea", "Hello Ann,\nare you free for lunch on Friday?"));
}

TEST_F(LinuxBackendTest, WritesHitTestsAndFollowsFocus) {
  auto x11 = std::make_shared<X11Desktop>();
  AtspiAccessibility ax(
      busSession(), [x11] { return x11->activeProcess(); },
      [x11](int x, int y) { return x11->processAt(x, y); });
  AsioRunLoop loop;
  X11Workspace workspace(loop, x11);

  auto front = workspace.frontmostApplication();
  ASSERT_TRUE(front);
  EXPECT_EQ(front->pid, desktop_->composerPid());
  EXPECT_EQ(front->bundleIdentifier, "nolari-mail");
  EXPECT_EQ(workspace.runningApplication(desktop_->composerPid()), front);
  auto screens = workspace.screens();
  ASSERT_EQ(screens.size(), 1u);
  EXPECT_EQ(screens[0].frame, (Rect{{0, 0}, {1280, 1024}}));

  AXUIElement to = element(ax, ax.createSystemWide(), "AXFocusedUIElement");
  ASSERT_EQ(ax.setAttributeValue(to, "AXValue", AXValue("bob@example.com")), AXErrorCode::success);
  bool shown = false;
  while (auto report = desktop_->nextComposerReport(5s)) {
    if ((*report)["field"] == "to" && (*report)["text"] == "bob@example.com") {
      shown = true;
      break;
    }
  }
  EXPECT_TRUE(shown);
  EXPECT_EQ(text(ax, to, "AXValue"), "bob@example.com");

  // The point in the middle of the field hits the field itself.
  auto field = frame(ax, to);
  ASSERT_TRUE(field);
  AXUIElement hit;
  ASSERT_EQ(
      ax.copyElementAtPosition(ax.createSystemWide(), float(field->minX() + field->size.width / 2),
                               float(field->minY() + field->size.height / 2), hit),
      AXErrorCode::success);
  EXPECT_EQ(hit, to);

  // A Tab moves focus to the subject; the notice arrives on the loop.
  std::vector<std::string> noticed;
  std::shared_ptr<AXObserver> observer;
  ASSERT_EQ(
      ax.createObserver(
          desktop_->composerPid(),
          [&](const AXUIElement& e, const std::string& name) {
            noticed.push_back(name + " " + text(ax, e, "AXRole") + " " + text(ax, e, "AXValue"));
            loop.stop();
          },
          observer),
      AXErrorCode::success);
  AXUIElement app = ax.createApplication(desktop_->composerPid());
  ASSERT_EQ(ax.addNotification(*observer, app, "AXFocusedUIElementChanged"), AXErrorCode::success);
  EXPECT_EQ(ax.addNotification(*observer, app, "AXFocusedUIElementChanged"),
            AXErrorCode::notificationAlreadyRegistered);
  EXPECT_EQ(ax.addNotification(*observer, app, "AXValueChanged"),
            AXErrorCode::notificationUnsupported);
  ax.scheduleObserver(*observer, loop);
  loop.postAfter(10s, [&] { loop.stop(); });
  ASSERT_EQ(desktop_->run("xdotool", {"key", "Tab"}).exitStatus, 0);
  loop.run();
  ASSERT_FALSE(noticed.empty());
  EXPECT_EQ(noticed.front(), "AXFocusedUIElementChanged AXTextField Lunch on Friday");

  // An application that quits leaves elements that fail at once.
  const auto startedKill = std::chrono::steady_clock::now();
  ::kill(desktop_->composerPid(), SIGKILL);
  AXValue value;
  AXError gone = AXErrorCode::success;
  for (int i = 0; i < 50 && gone == AXErrorCode::success; ++i) {
    gone = ax.copyAttributeValue(to, "AXValue", value);
    if (gone == AXErrorCode::success) std::this_thread::sleep_for(50ms);
  }
  EXPECT_NE(gone, AXErrorCode::success);
  EXPECT_LT(std::chrono::steady_clock::now() - startedKill, 10s);
}

class X11WorkspaceTest : public test::DesktopFixture {};

TEST_F(X11WorkspaceTest, ADisplayThatGoesAwayGivesEmptyAnswers) {
  openComposer("to");
  if (IsSkipped() || HasFatalFailure()) return;
  desktop_->exportEnvironment();
  AsioRunLoop loop;
  X11Workspace workspace(loop, std::make_shared<X11Desktop>());
  ASSERT_TRUE(workspace.frontmostApplication());
  ASSERT_EQ(workspace.screens().size(), 1u);
  const Point pointer = workspace.mouseLocation();
  EXPECT_TRUE((Rect{{0, 0}, {1280, 1025}}.contains(pointer)));

  desktop_->stopDisplay();
  EXPECT_FALSE(workspace.frontmostApplication());
  EXPECT_TRUE(workspace.screens().empty());
  EXPECT_FALSE(workspace.mainScreen());
  EXPECT_EQ(workspace.mouseLocation(), (Point{}));
  // A process without a window is known by its kernel name.
  auto app = workspace.runningApplication(::getpid());
  ASSERT_TRUE(app);
  EXPECT_EQ(app->localizedName, "desktop_tests");
  EXPECT_FALSE(workspace.runningApplication(-1));
}

}  // namespace
}  // namespace nolari::platform

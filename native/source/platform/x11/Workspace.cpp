#include "platform/x11/Workspace.h"

#include <X11/Xlib.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>

#include "platform/ThreadName.h"
#include "platform/x11/X11Desktop.h"

namespace nolari::platform {

namespace {

std::optional<RunningApplication> applicationFrom(const X11WindowFacts& facts) {
  RunningApplication app;
  app.pid = facts.pid;
  if (!facts.resClass.empty()) app.localizedName = facts.resClass;
  if (!facts.applicationId.empty()) {
    app.bundleIdentifier = facts.applicationId;
  } else if (!facts.resName.empty()) {
    app.bundleIdentifier = facts.resName;
  }
  return app;
}

// A process without a window still runs: its name is the kernel's.
std::optional<RunningApplication> processOnly(std::int32_t pid) {
  std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
  if (!comm) return std::nullopt;
  RunningApplication app;
  app.pid = pid;
  std::string name;
  if (std::getline(comm, name) && !name.empty()) app.localizedName = name;
  return app;
}

Rect toBottomLeft(const Rect& topLeft, double screenHeight) {
  return {{topLeft.origin.x, screenHeight - topLeft.maxY()}, topLeft.size};
}

}  // namespace

X11Workspace::X11Workspace(RunLoop& mainLoop, std::shared_ptr<X11Desktop> desktop)
    : mainLoop_(mainLoop), desktop_(std::move(desktop)) {}

X11Workspace::~X11Workspace() {
  if (watcher_.joinable()) {
    const std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(wakeFd_, &one, sizeof one);
    watcher_.join();
  }
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

std::optional<RunningApplication> X11Workspace::frontmostApplication() {
  auto active = desktop_->activeWindow();
  if (!active) return std::nullopt;
  return applicationFrom(*active);
}

bool X11Workspace::activate(const RunningApplication& app) {
  return desktop_->activate(app.pid, std::chrono::seconds(1));
}

std::optional<RunningApplication> X11Workspace::runningApplication(std::int32_t pid) {
  if (pid <= 0) return std::nullopt;
  if (auto window = desktop_->windowOfProcess(pid)) return applicationFrom(*window);
  return processOnly(pid);
}

// The work area is one rectangle over the whole root; each monitor's visible
// part is its share of it.
std::vector<Screen> X11Workspace::screens() {
  auto root = desktop_->screenFrame();
  if (!root) return {};
  auto monitors = desktop_->monitors();
  if (monitors.empty()) monitors.push_back(*root);
  const auto area = desktop_->workArea();
  std::vector<Screen> screens;
  for (const Rect& monitor : monitors) {
    Rect visible = monitor;
    if (area) {
      const double left = std::max(monitor.minX(), area->minX());
      const double top = std::max(monitor.minY(), area->minY());
      const double right = std::min(monitor.maxX(), area->maxX());
      const double bottom = std::min(monitor.maxY(), area->maxY());
      if (right > left && bottom > top) visible = {{left, top}, {right - left, bottom - top}};
    }
    screens.push_back(
        {toBottomLeft(monitor, root->size.height), toBottomLeft(visible, root->size.height)});
  }
  return screens;
}

std::optional<Screen> X11Workspace::mainScreen() {
  auto all = screens();
  if (all.empty()) return std::nullopt;
  return all.front();
}

Point X11Workspace::mouseLocation() {
  auto frame = desktop_->screenFrame();
  auto pointer = desktop_->pointer();
  if (!frame || !pointer) return {};
  return {pointer->x, frame->size.height - pointer->y};
}

Workspace::ObserverToken X11Workspace::addActivationObserver(ActivationHandler handler) {
  const ObserverToken token = activation_->add(std::move(handler));
  startWatching();
  return token;
}

void X11Workspace::removeActivationObserver(ObserverToken token) { activation_->remove(token); }

void X11Workspace::startWatching() {
  if (watcher_.joinable()) return;
  wakeFd_ = ::eventfd(0, EFD_CLOEXEC);
  if (wakeFd_ < 0) return;
  watcher_ = std::thread([this] {
    nameCurrentThread("nolari.x11watch");
    watch();
  });
}

// The active window changes with every window, the application only now and
// then: a notice goes out when the owning process changes.
void X11Workspace::watch() {
  Display* display = X11Desktop::openDisplay();
  if (!display) return;
  const Window root = DefaultRootWindow(display);
  const Atom active = X11Desktop::activeWindowAtom(display);
  XSelectInput(display, root, PropertyChangeMask);
  XFlush(display);
  std::int32_t lastPid = 0;
  if (auto facts = X11Desktop::activeWindowOn(display)) lastPid = facts->pid;
  pollfd fds[2] = {{ConnectionNumber(display), POLLIN, 0}, {wakeFd_, POLLIN, 0}};
  while (!X11Desktop::isBroken(display)) {
    bool changed = false;
    while (XPending(display) > 0 && !X11Desktop::isBroken(display)) {
      XEvent event;
      XNextEvent(display, &event);
      if (event.type == PropertyNotify && event.xproperty.atom == active) changed = true;
    }
    if (changed && !X11Desktop::isBroken(display)) {
      auto facts = X11Desktop::activeWindowOn(display);
      const std::int32_t pid = facts ? facts->pid : 0;
      if (pid != lastPid) {
        lastPid = pid;
        std::optional<RunningApplication> app;
        if (facts) app = applicationFrom(*facts);
        activation_->post(mainLoop_, app);
      }
    }
    // Reading the active window waits for replies, and events that arrive
    // meanwhile are queued by Xlib where poll() cannot see them.
    if (XEventsQueued(display, QueuedAlready) > 0) continue;
    if (::poll(fds, 2, -1) < 0 && errno != EINTR) break;
    if (fds[1].revents & POLLIN) break;
    if (X11Desktop::isBroken(display)) break;
  }
  X11Desktop::closeDisplay(display);
}

}  // namespace nolari::platform

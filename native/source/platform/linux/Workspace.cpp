#include "platform/linux/Workspace.h"

#include <X11/Xlib.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>

#include "platform/linux/RunLoop.h"
#include "platform/linux/X11Desktop.h"

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

LinuxWorkspace::LinuxWorkspace(RunLoop& mainLoop) : mainLoop_(mainLoop) {}

LinuxWorkspace::~LinuxWorkspace() {
  if (watcher_.joinable()) {
    const std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(wakeFd_, &one, sizeof one);
    watcher_.join();
  }
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

std::optional<RunningApplication> LinuxWorkspace::frontmostApplication() {
  auto active = X11Desktop::shared().activeWindow();
  if (!active) return std::nullopt;
  return applicationFrom(*active);
}

std::optional<RunningApplication> LinuxWorkspace::runningApplication(std::int32_t pid) {
  if (pid <= 0) return std::nullopt;
  if (auto window = X11Desktop::shared().windowOfProcess(pid)) return applicationFrom(*window);
  return processOnly(pid);
}

std::vector<Screen> LinuxWorkspace::screens() {
  auto screen = mainScreen();
  if (!screen) return {};
  return {*screen};
}

std::optional<Screen> LinuxWorkspace::mainScreen() {
  auto frame = X11Desktop::shared().screenFrame();
  if (!frame) return std::nullopt;
  Screen screen;
  screen.frame = *frame;
  auto area = X11Desktop::shared().workArea();
  screen.visibleFrame = area ? toBottomLeft(*area, frame->size.height) : *frame;
  return screen;
}

Point LinuxWorkspace::mouseLocation() {
  auto frame = X11Desktop::shared().screenFrame();
  auto pointer = X11Desktop::shared().pointer();
  if (!frame || !pointer) return {};
  return {pointer->x, frame->size.height - pointer->y};
}

Workspace::ObserverToken LinuxWorkspace::addActivationObserver(ActivationHandler handler) {
  ObserverToken token = 0;
  {
    std::lock_guard lock(observers_->mutex);
    token = nextToken_++;
    observers_->handlers[token] = std::move(handler);
  }
  startWatching();
  return token;
}

void LinuxWorkspace::removeActivationObserver(ObserverToken token) {
  std::lock_guard lock(observers_->mutex);
  observers_->handlers.erase(token);
}

void LinuxWorkspace::startWatching() {
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
void LinuxWorkspace::watch() {
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
        mainLoop_.post([weak = std::weak_ptr(observers_), app] {
          auto observers = weak.lock();
          if (!observers) return;
          std::map<ObserverToken, ActivationHandler> handlers;
          {
            std::lock_guard lock(observers->mutex);
            handlers = observers->handlers;
          }
          // Called unlocked, since a handler may add or remove observers; one
          // removed by an earlier handler is not called.
          for (auto& [token, handler] : handlers) {
            bool registered = false;
            {
              std::lock_guard lock(observers->mutex);
              registered = observers->handlers.contains(token);
            }
            if (registered) handler(app);
          }
        });
      }
    }
    if (::poll(fds, 2, -1) < 0 && errno != EINTR) break;
    if (fds[1].revents & POLLIN) break;
    if (X11Desktop::isBroken(display)) break;
  }
  X11Desktop::closeDisplay(display);
}

}  // namespace nolari::platform

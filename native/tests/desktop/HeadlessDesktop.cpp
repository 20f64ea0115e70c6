#include "HeadlessDesktop.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

// After the test framework: X.h defines None, a name the framework uses.
#include <X11/Xlib.h>

namespace nolari::test {

namespace {

using namespace std::chrono_literals;

const char* const PYTHON = "/usr/bin/python3";

std::optional<std::string> onPath(const std::string& program) {
  // A path is taken as it is, as the shell takes it.
  if (program.find('/') != std::string::npos) {
    return ::access(program.c_str(), X_OK) == 0 ? std::optional(program) : std::nullopt;
  }
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= dirs.size()) {
    std::size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string candidate = dirs.substr(start, end - start) + "/" + program;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return std::nullopt;
}

std::string toolPath(const std::string& program) {
  if (program == "velkit" || program == "tarnet" || program == "ambrel")
    return programPath(program);
  return onPath(program).value_or(program);
}

// Starts a program of the desktop that ends with the test process, even when
// that process crashes before it can stop it.
std::unique_ptr<RunningProcess> startOwned(const std::string& path, ProcessOptions options) {
  if (auto setpriv = onPath("setpriv")) {
    options.args.insert(options.args.begin(), {"--pdeathsig", "KILL", "--", path});
    return RunningProcess::start(*setpriv, options);
  }
  return RunningProcess::start(path, options);
}

}  // namespace

std::string composerScript() { return std::string(NOLARI_TESTS_DIR) + "/desktop/apps/compose.py"; }

BrowserLaunch chromiumLaunch(const std::string& folder) {
  return {{"chromium", "--no-sandbox", "--force-renderer-accessibility",
           "--user-data-dir=" + folder + "/chromium", "--no-first-run", "--disable-gpu"},
          {{"ACCESSIBILITY_ENABLED", "1"}}};
}

BrowserLaunch firefoxLaunch(const std::string& folder) {
  const std::string profile = folder + "/firefox";
  std::filesystem::create_directories(profile);
  std::ofstream(profile + "/user.js")
      << "user_pref(\"browser.shell.checkDefaultBrowser\", false);\n"
         "user_pref(\"browser.aboutwelcome.enabled\", false);\n"
         "user_pref(\"datareporting.policy.dataSubmissionEnabled\", false);\n"
         "user_pref(\"browser.startup.homepage_override.mstone\", \"ignore\");\n";
  return {{"firefox-esr", "--no-remote", "--profile", profile}, {{"GNOME_ACCESSIBILITY", "1"}}};
}

std::string HeadlessDesktop::missingPrograms() {
  std::string missing;
  for (const char* program : {"Xvfb", "openbox", "dbus-daemon", "xdotool", "xprop"}) {
    if (!onPath(program)) missing += std::string(missing.empty() ? "" : ", ") + program;
  }
  ProcessOptions check;
  check.args = {"-c", "import gi; gi.require_version('Gtk', '3.0'); from gi.repository import Gtk"};
  if (::access(PYTHON, X_OK) != 0 || runProcess(PYTHON, check).exitStatus != 0) {
    missing += std::string(missing.empty() ? "" : ", ") + "GTK 3 for /usr/bin/python3";
  }
  return missing;
}

bool HeadlessDesktop::start(std::string& error) {
  // The server picks a free display itself and writes its number on stdout.
  ProcessOptions x;
  x.args = {"-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"};
  display_ = startOwned(*onPath("Xvfb"), x);
  auto number = display_ ? display_->readLine(15s) : std::nullopt;
  if (!number || number->empty()) {
    error = "the X server did not start";
    return false;
  }
  displayName_ = ":" + *number;

  // Services the bus starts (the accessibility bus and its registry, the
  // settings store) inherit its environment: this display, a runtime
  // directory of this desktop's own, where the accessibility bus puts its
  // socket, and the desktop's configuration directory, where the settings
  // store writes.
  runtimeDir_ = std::make_unique<TempDir>();
  ::chmod(runtimeDir_->path().c_str(), 0700);
  ProcessOptions bus;
  bus.args = {"--session", "--nofork", "--nopidfile", "--print-address=1"};
  bus.env = {{"DISPLAY", displayName_},
             {"XDG_RUNTIME_DIR", runtimeDir_->path()},
             {"XDG_CONFIG_HOME", runtimeDir_->path() + "/config"}};
  bus.unsetEnv = {"DBUS_SESSION_BUS_ADDRESS", "AT_SPI_BUS_ADDRESS"};
  bus_ = startOwned(*onPath("dbus-daemon"), bus);
  auto address = bus_ ? bus_->readLine(10s) : std::nullopt;
  if (!address || address->empty()) {
    error = "the D-Bus session did not start";
    return false;
  }
  busAddress_ = *address;

  // Without a window manager no window is ever active.
  ProcessOptions wm;
  wm.args = {"--sm-disable"};
  wm.env = environment();
  // On a busy machine the window manager now and then gives up before it has
  // the display; it is started once more then (a second one that finds the
  // first in place leaves again).
  const auto started = std::chrono::steady_clock::now();
  bool restarted = false;
  windowManager_ = startOwned(*onPath("openbox"), wm);
  if (!windowManager_) {
    error = "the window manager did not start";
    return false;
  }
  for (auto deadline = started + 15s; std::chrono::steady_clock::now() < deadline;
       std::this_thread::sleep_for(50ms)) {
    ProcessResult probe = run("xprop", {"-root", "_NET_SUPPORTING_WM_CHECK"}, 5s);
    if (probe.exitStatus == 0 && probe.out.find("window id") != std::string::npos) return true;
    if (!restarted && std::chrono::steady_clock::now() - started > 5s) {
      restarted = true;
      windowManagerAgain_ = startOwned(*onPath("openbox"), wm);
    }
  }
  error = "the window manager did not take over the display: " + windowManager_->stderrText();
  return false;
}

HeadlessDesktop::~HeadlessDesktop() {
  while (!applications_.empty()) stopApplication(applications_.back()->pid());
  for (auto* process :
       {&composer_, &compositor_, &windowManagerAgain_, &windowManager_, &display_, &bus_}) {
    if (*process) {
      (*process)->kill(SIGTERM);
      (*process)->wait(5s);
    }
  }
}

int HeadlessDesktop::startApplication(const std::vector<std::string>& command,
                                      const std::map<std::string, std::string>& environment,
                                      std::string& error, std::chrono::milliseconds timeout) {
  auto setsid = onPath("setsid");
  auto program = command.empty() ? std::nullopt : onPath(command.front());
  if (!setsid || !program) {
    error = "cannot start " + (command.empty() ? std::string("nothing") : command.front());
    return 0;
  }
  // A group of its own, so that the helper processes a browser starts end
  // with it.
  ProcessOptions app;
  app.args = {*program};
  app.args.insert(app.args.end(), command.begin() + 1, command.end());
  app.env = this->environment();
  for (const auto& [name, value] : environment) app.env[name] = value;
  app.unsetEnv = {"NO_AT_BRIDGE", "AT_SPI_BUS_ADDRESS"};
  auto started = startOwned(*setsid, app);
  if (!started) {
    error = "cannot start " + *program;
    return 0;
  }
  const int pid = started->pid();
  applications_.push_back(std::move(started));
  for (auto deadline = std::chrono::steady_clock::now() + timeout;
       std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(50ms)) {
    const int active = activeWindowPid();
    if (active > 0 && ::getpgid(active) == pid) return pid;
  }
  error = command.front() + " never showed an active window: " + applications_.back()->stderrText();
  stopApplication(pid);
  return 0;
}

void HeadlessDesktop::stopApplication(int pid) {
  for (auto it = applications_.begin(); it != applications_.end(); ++it) {
    if ((*it)->pid() != pid) continue;
    ::kill(-pid, SIGTERM);
    if ((*it)->wait(5s).timedOut) ::kill(-pid, SIGKILL);
    ::kill(-pid, SIGKILL);
    applications_.erase(it);
    return;
  }
}

int HeadlessDesktop::activeWindowPid() const {
  ProcessResult active = run("xdotool", {"getactivewindow", "getwindowpid"}, 5s);
  if (active.exitStatus != 0) return 0;
  return std::atoi(active.out.c_str());
}

void HeadlessDesktop::stopDisplay() {
  if (!display_) return;
  display_->kill(SIGKILL);
  display_->wait(5s);
  display_.reset();
}

std::map<std::string, std::string> HeadlessDesktop::environment() const {
  return {{"DISPLAY", displayName_},
          {"DBUS_SESSION_BUS_ADDRESS", busAddress_},
          {"XDG_RUNTIME_DIR", runtimeDir_ ? runtimeDir_->path() : ""},
          // The programs' settings stay with the desktop, never in the user's home.
          {"XDG_CONFIG_HOME", runtimeDir_ ? runtimeDir_->path() + "/config" : ""},
          {"NOLARI_PLATFORM", "linux"}};
}

void HeadlessDesktop::exportEnvironment() const {
  for (const auto& [name, value] : environment()) ::setenv(name.c_str(), value.c_str(), 1);
  ::unsetenv("AT_SPI_BUS_ADDRESS");
}

bool HeadlessDesktop::startCompositor(std::string& error) {
  if (compositor_) return true;
  auto program = onPath("xcompmgr");
  if (!program) {
    error = "xcompmgr is not installed";
    return false;
  }
  ProcessOptions options;
  options.env = environment();
  compositor_ = startOwned(*program, options);
  Display* display = XOpenDisplay(displayName_.c_str());
  if (!compositor_ || !display) {
    if (display) XCloseDisplay(display);
    error = "the compositing manager did not start";
    return false;
  }
  // A compositing manager owns the screen's _NET_WM_CM_S0 selection.
  const Atom selection = XInternAtom(display, "_NET_WM_CM_S0", False);
  bool owned = false;
  for (auto deadline = std::chrono::steady_clock::now() + 10s;
       !owned && std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(20ms)) {
    owned = XGetSelectionOwner(display, selection) != 0;
  }
  XCloseDisplay(display);
  if (!owned) error = "the compositing manager never took the screen: " + compositor_->stderrText();
  return owned;
}

bool HeadlessDesktop::startComposer(const std::string& focusedField, std::string& error) {
  ProcessOptions app;
  app.args = {composerScript(), focusedField};
  app.env = environment();
  app.unsetEnv = {"NO_AT_BRIDGE", "AT_SPI_BUS_ADDRESS"};
  if (composer_) {
    composer_->kill(SIGTERM);
    composer_->wait(5s);
  }
  composer_ = startOwned(PYTHON, app);
  auto ready = nextComposerReport(20s);
  if (!ready || (*ready)["field"] != "ready") {
    error = "the compose window did not open: " + (composer_ ? composer_->stderrText() : "");
    return false;
  }
  // The toolkit reports the field's focus as soon as the window has the
  // keyboard; the window manager names the active window a moment later.
  bool focused = false;
  while (auto report = nextComposerReport(10s)) {
    if ((*report)["field"] == "focus" && (*report)["text"] == focusedField) {
      focused = true;
      break;
    }
  }
  if (!focused) {
    error = "the compose window never took focus";
    return false;
  }
  const std::string pid = std::to_string(composer_->pid());
  for (auto deadline = std::chrono::steady_clock::now() + 10s;
       std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(20ms)) {
    ProcessResult active = run("xdotool", {"getactivewindow", "getwindowpid"}, 5s);
    if (active.exitStatus == 0 && active.out.find(pid) == 0) return true;
  }
  error = "the compose window never became the active window";
  return false;
}

std::optional<nlohmann::json> HeadlessDesktop::nextComposerReport(
    std::chrono::milliseconds timeout) {
  if (!composer_) return std::nullopt;
  auto line = composer_->readLine(timeout);
  if (!line) return std::nullopt;
  auto parsed = nlohmann::json::parse(*line, nullptr, false);
  if (parsed.is_discarded()) return std::nullopt;
  return parsed;
}

ProcessResult HeadlessDesktop::run(const std::string& program, const std::vector<std::string>& args,
                                   std::chrono::milliseconds timeout) const {
  ProcessOptions options;
  options.args = args;
  options.env = environment();
  options.unsetEnv = {"AT_SPI_BUS_ADDRESS"};
  options.timeout = timeout;
  return runProcess(toolPath(program), options);
}

std::unique_ptr<RunningProcess> HeadlessDesktop::start(const std::string& program,
                                                       const std::vector<std::string>& args) const {
  ProcessOptions options;
  options.args = args;
  options.env = environment();
  options.unsetEnv = {"AT_SPI_BUS_ADDRESS"};
  return RunningProcess::start(toolPath(program), options);
}

nlohmann::json HeadlessDesktop::runTool(const std::string& program,
                                        const std::vector<std::string>& args) const {
  ProcessResult result = run(program, args);
  EXPECT_EQ(result.exitStatus, 0) << program << " ended badly: " << result.err;
  auto parsed = nlohmann::json::parse(result.out, nullptr, false);
  if (parsed.is_discarded()) return {{"unparsed", result.out}, {"stderr", result.err}};
  return parsed;
}

}  // namespace nolari::test

#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/Subprocess.h"
#include "support/TempDir.h"

// A desktop of its own for a test: a virtual X server on a free display, a
// window manager, a D-Bus session (the accessibility bus starts from it on
// first use) and the mail-compose window. Everything is stopped again, by the
// process ids started here, when the object goes.

namespace nolari::test {

class HeadlessDesktop {
 public:
  // Why the desktop cannot run on this machine (a program missing), or "".
  static std::string missingPrograms();

  // Starts the desktop; `error` says what failed.
  bool start(std::string& error);
  ~HeadlessDesktop();

  // The variables a program needs to reach this desktop.
  std::map<std::string, std::string> environment() const;
  // Points this process at the desktop, for in-process backend tests.
  void exportEnvironment() const;

  // Starts a compositing manager, so that windows with an alpha channel are
  // blended with what lies below them, and waits until it has the screen.
  bool startCompositor(std::string& error);

  // Starts the compose window with the named field ("to", "subject", "body")
  // focused and waits for it to be shown and active.
  bool startComposer(const std::string& focusedField, std::string& error);
  int composerPid() const { return composer_ ? composer_->pid() : 0; }
  // The next field change the composer reports: {"field": ..., "text": ...}.
  std::optional<nlohmann::json> nextComposerReport(std::chrono::milliseconds timeout);

  // Starts an application of the desktop (a browser, an editor) in a process
  // group of its own and waits until one of its windows is the active window;
  // its process id, or 0 with `error` set. `environment` is added to the
  // desktop's own. The whole group is stopped with the desktop or by
  // `stopApplication`.
  int startApplication(const std::vector<std::string>& command,
                       const std::map<std::string, std::string>& environment, std::string& error,
                       std::chrono::milliseconds timeout = std::chrono::seconds(60));
  void stopApplication(int pid);
  // The process owning the active window, or 0.
  int activeWindowPid() const;

  // Runs a program against this desktop (xdotool, velkit, ...).
  ProcessResult run(const std::string& program, const std::vector<std::string>& args,
                    std::chrono::milliseconds timeout = std::chrono::seconds(20)) const;
  // Ends the X server, as when a display goes away under the programs.
  void stopDisplay();

  // Starts a long-running program against this desktop (tarnet, ambrel).
  std::unique_ptr<RunningProcess> start(const std::string& program,
                                        const std::vector<std::string>& args) const;
  // The line a one-shot tool printed, parsed.
  nlohmann::json runTool(const std::string& program, const std::vector<std::string>& args) const;

 private:
  std::unique_ptr<TempDir> runtimeDir_;
  std::unique_ptr<RunningProcess> bus_;
  std::unique_ptr<RunningProcess> display_;
  std::unique_ptr<RunningProcess> windowManager_;
  std::unique_ptr<RunningProcess> windowManagerAgain_;
  std::unique_ptr<RunningProcess> compositor_;
  std::unique_ptr<RunningProcess> composer_;
  std::vector<std::unique_ptr<RunningProcess>> applications_;
  std::string displayName_;
  std::string busAddress_;
};

std::string composerScript();

// A browser run with its accessibility on and a fresh profile under `folder`.
struct BrowserLaunch {
  std::vector<std::string> command;
  std::map<std::string, std::string> environment;
};
BrowserLaunch chromiumLaunch(const std::string& folder);
BrowserLaunch firefoxLaunch(const std::string& folder);

}  // namespace nolari::test

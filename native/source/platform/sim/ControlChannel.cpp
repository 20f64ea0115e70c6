#include "platform/sim/ControlChannel.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/JSONInput.h"
#include "base/LineWriter.h"
#include "platform/KeyNames.h"

namespace nolari::platform {

using nlohmann::json;

namespace {

// An "echo" waits at most this long.
constexpr double MAX_ECHO_DELAY_SECONDS = 3600;
// How much of an ignored line its report quotes.
constexpr std::size_t QUOTED_BYTES = 200;

void report(const std::string& what) {
  LineWriter::writeToStandardError("[sim] [WARN] control channel: " + what + "\n");
}

std::string excerpt(std::string_view line) {
  if (line.size() <= QUOTED_BYTES) return std::string(line);
  return std::string(line.substr(0, QUOTED_BYTES)) + "...";
}

std::optional<std::string> stringMember(const json& command, const char* key, std::string& error) {
  auto it = command.find(key);
  if (it == command.end() || !it->is_string()) {
    error = std::string("\"") + key + "\" must be a string";
    return std::nullopt;
  }
  return it->get<std::string>();
}

std::optional<std::int32_t> int32Member(const json& command, const char* key, std::string& error) {
  auto it = command.find(key);
  if (it != command.end() && it->is_number_integer()) {
    // Unsigned values are compared as unsigned, so a huge one is not taken as negative.
    const bool fits = it->is_number_unsigned()
                          ? it->get<std::uint64_t>() <=
                                static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())
                          : it->get<std::int64_t>() >= std::numeric_limits<std::int32_t>::min() &&
                                it->get<std::int64_t>() <= std::numeric_limits<std::int32_t>::max();
    if (fits) return static_cast<std::int32_t>(it->get<std::int64_t>());
  }
  error = std::string("\"") + key + "\" must be a 32-bit integer";
  return std::nullopt;
}

using Handler = std::function<bool(const json& command, SimControl& control, RunLoop& loop,
                                   std::string& error)>;

bool activate(const json& command, SimControl& control, RunLoop&, std::string& error) {
  auto pid = int32Member(command, "pid", error);
  if (!pid) return false;
  if (!control.activate(*pid)) {
    error = "no running application has pid " + std::to_string(*pid);
    return false;
  }
  return true;
}

bool activateWithoutApplication(const json&, SimControl& control, RunLoop&, std::string&) {
  control.announceActivationWithoutApplication();
  return true;
}

bool focus(const json& command, SimControl& control, RunLoop&, std::string& error) {
  auto element = stringMember(command, "element", error);
  if (!element) return false;
  if (!control.focus(*element)) {
    error = "no element of a running application has the id \"" + *element + "\"";
    return false;
  }
  return true;
}

bool setAttribute(const json& command, SimControl& control, RunLoop&, std::string& error) {
  auto element = stringMember(command, "element", error);
  if (!element) return false;
  auto attribute = stringMember(command, "attribute", error);
  if (!attribute) return false;
  auto value = command.find("value");
  if (value == command.end()) {
    error = "\"value\" is missing";
    return false;
  }
  return control.setAttribute(*element, *attribute, *value, error);
}

bool quit(const json& command, SimControl& control, RunLoop&, std::string& error) {
  auto pid = int32Member(command, "pid", error);
  if (!pid) return false;
  if (!control.quitApplication(*pid)) {
    error = "no running application has pid " + std::to_string(*pid);
    return false;
  }
  return true;
}

bool failNextObserverCreate(const json& command, SimControl& control, RunLoop&,
                            std::string& error) {
  auto code = int32Member(command, "code", error);
  if (!code) return false;
  control.failNextObserverCreate(*code);
  return true;
}

bool failNextAddNotification(const json& command, SimControl& control, RunLoop&,
                             std::string& error) {
  auto code = int32Member(command, "code", error);
  if (!code) return false;
  control.failNextAddNotification(*code);
  return true;
}

// Writes {"echo": data} on standard output from the main run loop, at once or
// after "after" seconds of the loop's time: a fence a test can wait for, and
// the round trip the benchmark compares the program's work against.
bool echo(const json& command, SimControl&, RunLoop& loop, std::string& error) {
  double after = 0;
  if (auto it = command.find("after"); it != command.end()) {
    if (!it->is_number() || !(it->get<double>() >= 0) ||
        it->get<double>() > MAX_ECHO_DELAY_SECONDS) {
      error = "\"after\" must be a number of seconds from 0 to 3600";
      return false;
    }
    after = it->get<double>();
  }
  const json data = command.contains("data") ? command["data"] : json();
  std::string line =
      json{{"echo", data}}.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
  auto write = [line = std::move(line)] { LineWriter::writeToStandardOutput(line); };
  if (after == 0) {
    write();
  } else {
    loop.postAfter(std::chrono::duration_cast<Duration>(std::chrono::duration<double>(after)),
                   std::move(write));
  }
  return true;
}

// The key of "key", "key_down" and "key_up": a name from the key table or a
// code, with "modifiers" (names) and "flags" (bits) together giving the flags.
std::optional<KeyEvent> keyMember(const json& command, std::string& error) {
  KeyEvent key;
  auto it = command.find("key");
  if (it != command.end() && it->is_string()) {
    auto code = keyCodeForName(it->get<std::string>());
    if (!code) {
      error = "no key is named \"" + it->get<std::string>() + "\"";
      return std::nullopt;
    }
    key.keyCode = *code;
  } else if (it != command.end() && it->is_number_unsigned() &&
             it->get<std::uint64_t>() < KeyEvent::noKeyCode) {
    key.keyCode = static_cast<KeyCode>(it->get<std::uint64_t>());
  } else {
    error = "\"key\" must be a key name or a key code from 0 to 65534";
    return std::nullopt;
  }
  if (auto flags = command.find("flags"); flags != command.end()) {
    if (!flags->is_number_unsigned()) {
      error = "\"flags\" must be a non-negative integer";
      return std::nullopt;
    }
    key.flags = flags->get<std::uint64_t>();
  }
  if (auto modifiers = command.find("modifiers"); modifiers != command.end()) {
    static const std::map<std::string, std::uint64_t, std::less<>> bits = {
        {"command", EventFlags::command},
        {"shift", EventFlags::shift},
        {"control", EventFlags::control},
        {"option", EventFlags::alternate},
        {"capslock", EventFlags::alphaShift}};
    bool valid = modifiers->is_array();
    for (const auto& name : valid ? *modifiers : json::array()) {
      auto bit = name.is_string() ? bits.find(name.get<std::string>()) : bits.end();
      if (bit == bits.end()) {
        valid = false;
        break;
      }
      key.flags |= bit->second;
    }
    if (!valid) {
      error =
          "\"modifiers\" must be an array of \"command\", \"shift\", \"control\", \"option\" "
          "and \"capslock\"";
      return std::nullopt;
    }
  }
  return key;
}

bool keyDown(const json& command, SimControl& control, RunLoop&, std::string& error) {
  auto key = keyMember(command, error);
  if (!key) return false;
  if (auto repeat = command.find("repeat"); repeat != command.end()) {
    if (!repeat->is_boolean()) {
      error = "\"repeat\" must be a boolean";
      return false;
    }
    key->autorepeat = repeat->get<bool>();
  }
  control.pressKey(*key);
  return true;
}

bool keyUp(const json& command, SimControl& control, RunLoop&, std::string& error) {
  auto key = keyMember(command, error);
  if (!key) return false;
  control.releaseKey(*key);
  return true;
}

bool keyPress(const json& command, SimControl& control, RunLoop&, std::string& error) {
  auto key = keyMember(command, error);
  if (!key) return false;
  control.pressKey(*key);
  control.releaseKey(*key);
  return true;
}

// The point of "mouse_move" and "click": "x" and "y", bottom-left global points.
std::optional<Point> pointMember(const json& command, std::string& error) {
  double at[2] = {0, 0};
  const char* names[2] = {"x", "y"};
  for (int i = 0; i < 2; ++i) {
    auto it = command.find(names[i]);
    if (it == command.end() || !it->is_number() || !std::isfinite(it->get<double>())) {
      error = std::string("\"") + names[i] + "\" must be a number";
      return std::nullopt;
    }
    at[i] = it->get<double>();
  }
  return Point{at[0], at[1]};
}

bool mouseMove(const json& command, SimControl& control, RunLoop&, std::string& error) {
  auto point = pointMember(command, error);
  if (!point) return false;
  control.moveMouse(*point);
  return true;
}

bool click(const json& command, SimControl& control, RunLoop&, std::string& error) {
  auto point = pointMember(command, error);
  if (!point) return false;
  bool primary = true;
  if (auto button = command.find("button"); button != command.end()) {
    if (*button != "left" && *button != "right") {
      error = "\"button\" must be \"left\" or \"right\"";
      return false;
    }
    primary = *button == "left";
  }
  control.click(*point, primary);
  return true;
}

bool screens(const json& command, SimControl& control, RunLoop&, std::string& error) {
  if (!command.contains("screens")) {
    error = "\"screens\" is missing";
    return false;
  }
  std::vector<Screen> screens;
  std::optional<std::size_t> main;
  if (!SimScene::parseScreens(command, screens, main, error)) return false;
  control.setScreens(std::move(screens), main);
  return true;
}

// The members other than "op" as the scene's "display_options" has them; one
// left out keeps its value.
bool displayOptions(const json& command, SimControl& control, RunLoop&, std::string& error) {
  json options = command;
  options.erase("op");
  DisplayOptions changed = control.desktop()->withState(
      [](SimDesktop::State& state) { return state.model.displayOptions; });
  if (!SimScene::parseDisplayOptions(options, "display_options", changed, error)) return false;
  control.setDisplayOptions(changed);
  return true;
}

bool compositor(const json& command, SimControl& control, RunLoop&, std::string& error) {
  const auto running = command.find("running");
  if (running == command.end() || !running->is_boolean()) {
    error = "\"running\" must be true or false";
    return false;
  }
  control.setCompositing(running->get<bool>());
  return true;
}

bool wake(const json&, SimControl& control, RunLoop&, std::string&) {
  control.wake();
  return true;
}

// Larger scales make images of no use to a test and of great size.
constexpr double MAX_RENDER_SCALE = 16;

bool renderWindow(const json& command, SimControl& control, RunLoop&, std::string& error) {
  auto name = stringMember(command, "name", error);
  if (!name) return false;
  auto path = stringMember(command, "path", error);
  if (!path) return false;
  double scale = 2;
  if (auto it = command.find("scale"); it != command.end()) {
    if (!it->is_number() || !(it->get<double>() > 0) || it->get<double>() > MAX_RENDER_SCALE) {
      error = "\"scale\" must be a number above 0, at most 16";
      return false;
    }
    scale = it->get<double>();
  }
  return control.renderWindow(*name, scale, *path, error);
}

// Writes the program's windows on standard output (see SimWindows::report).
bool reportWindows(const json&, SimControl& control, RunLoop&, std::string&) {
  const auto report =
      control.desktop()->withState([](SimDesktop::State& state) { return state.windows.report(); });
  LineWriter::writeToStandardOutput(
      report.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n");
  return true;
}

bool disableTap(const json& command, SimControl& control, RunLoop&, std::string& error) {
  auto tap = command.find("tap");
  const bool keyboard = tap != command.end() && *tap == "keyboard";
  if (!keyboard && !(tap != command.end() && *tap == "mouse")) {
    error = "\"tap\" must be \"keyboard\" or \"mouse\"";
    return false;
  }
  auto by = command.find("by");
  TapEvent::Type cause;
  if (by != command.end() && *by == "timeout") {
    cause = TapEvent::Type::tapDisabledByTimeout;
  } else if (by != command.end() && *by == "user_input") {
    cause = TapEvent::Type::tapDisabledByUserInput;
  } else {
    error = "\"by\" must be \"timeout\" or \"user_input\"";
    return false;
  }
  if (!control.disableTap(keyboard, cause)) {
    error = std::string("the program holds no ") + (keyboard ? "keyboard" : "mouse") + " tap";
    return false;
  }
  return true;
}

// Writes {"typed": text} on standard output once every key pressed before
// has gone past the keyboard tap.
bool reportTyped(const json&, SimControl& control, RunLoop&, std::string&) {
  control.whenTyped([](const std::string& text) {
    LineWriter::writeToStandardOutput(
        json{{"typed", text}}.dump(-1, ' ', false, json::error_handler_t::replace) + "\n");
  });
  return true;
}

const std::map<std::string, Handler, std::less<>>& handlers() {
  static const std::map<std::string, Handler, std::less<>> table = {
      {"activate", activate},
      {"activate_without_application", activateWithoutApplication},
      {"focus", focus},
      {"set_attribute", setAttribute},
      {"quit", quit},
      {"fail_next_observer_create", failNextObserverCreate},
      {"fail_next_add_notification", failNextAddNotification},
      {"echo", echo},
      {"key_down", keyDown},
      {"key_up", keyUp},
      {"key", keyPress},
      {"mouse_move", mouseMove},
      {"click", click},
      {"disable_tap", disableTap},
      {"report_typed", reportTyped},
      {"screens", screens},
      {"wake", wake},
      {"compositor", compositor},
      {"display_options", displayOptions},
      {"render_window", renderWindow},
      {"report_windows", reportWindows},
  };
  return table;
}

bool isBlank(std::string_view line) {
  return line.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

// One writer's bytes on their way to whole lines.
struct Reader {
  int fd;
  std::string pending;
  // Inside a line that grew past the limit: everything up to its end is dropped.
  bool skipping = false;
};

}  // namespace

struct SimControlChannel::Shared {
  std::mutex mutex;
  // Null once the channel is closed.
  RunLoop* loop = nullptr;
  std::shared_ptr<SimDesktop> desktop;
  int source = -1;
  bool listening = false;
  std::string socketPath;
  std::string fifoPath;
  int wakeRead = -1;
  int wakeWrite = -1;

  // Hands lines to the main run loop as one task: lines that arrived together
  // are applied together, before anything they cause (a focus notice, say).
  static void deliver(const std::shared_ptr<Shared>& shared, std::vector<std::string> lines) {
    if (lines.empty()) return;
    std::lock_guard lock(shared->mutex);
    if (!shared->loop) return;
    shared->loop->post([shared, lines = std::move(lines)] {
      RunLoop* loop;
      {
        std::lock_guard lock(shared->mutex);
        loop = shared->loop;
      }
      if (!loop) return;
      for (const auto& line : lines) {
        std::string error;
        SimControl control(shared->desktop);
        if (!apply(line, control, *loop, error)) {
          report("line ignored (" + error + "): " + excerpt(line));
        }
      }
    });
  }

  // Takes the complete lines out of what `reader` has gathered. A line over
  // the limit is reported once and dropped, whether it came in one read or
  // in several.
  static void takeLines(const std::shared_ptr<Shared>& shared, Reader& reader) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = reader.pending.find('\n', start)) != std::string::npos;
         start = end + 1) {
      const std::string_view line(reader.pending.data() + start, end - start);
      if (reader.skipping) {
        reader.skipping = false;
      } else if (line.size() > MAX_LINE_BYTES) {
        reportOverlong(line);
      } else {
        lines.emplace_back(line);
      }
    }
    deliver(shared, std::move(lines));
    reader.pending.erase(0, start);
    if (reader.skipping) {
      reader.pending.clear();
    } else if (reader.pending.size() > MAX_LINE_BYTES) {
      reportOverlong(reader.pending);
      reader.pending.clear();
      reader.skipping = true;
    }
  }

  static void reportOverlong(std::string_view line) {
    std::string why = "line ignored (longer than ";
    why += std::to_string(MAX_LINE_BYTES);
    why += " bytes): ";
    why += excerpt(line);
    report(why);
  }

  // What a writer left without its line feed when it went away still counts
  // as a line; on a FIFO that is when the last writer closed it, and it is
  // opened again so that the next writer starts a line of its own.
  static void endOfWriter(const std::shared_ptr<Shared>& shared, std::vector<Reader>& readers,
                          std::size_t index) {
    Reader& reader = readers[index];
    std::string last;
    if (!reader.skipping) last.swap(reader.pending);
    ::close(reader.fd);
    if (!shared->listening) {
      reader = {::open(shared->fifoPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC), {}, false};
      if (reader.fd < 0) {
        report("cannot open the FIFO again: " + std::string(std::strerror(errno)));
        readers.erase(readers.begin() + static_cast<std::ptrdiff_t>(index));
      }
    } else {
      readers.erase(readers.begin() + static_cast<std::ptrdiff_t>(index));
    }
    if (!last.empty()) deliver(shared, {std::move(last)});
  }

  static void run(const std::shared_ptr<Shared>& shared) {
    std::vector<Reader> readers;
    if (!shared->listening) readers.push_back({shared->source, {}, false});
    std::vector<char> buffer(64 * 1024);
    for (;;) {
      std::vector<pollfd> polled = {{shared->wakeRead, POLLIN, 0}};
      if (shared->listening) polled.push_back({shared->source, POLLIN, 0});
      for (const auto& reader : readers) polled.push_back({reader.fd, POLLIN, 0});
      if (::poll(polled.data(), polled.size(), -1) < 0) {
        if (errno == EINTR) continue;
        report(std::string("poll failed: ") + std::strerror(errno));
        break;
      }
      if (polled[0].revents) break;
      std::size_t first = 1;
      if (shared->listening) {
        first = 2;
        if (polled[1].revents & POLLIN) {
          int client = ::accept4(shared->source, nullptr, nullptr, SOCK_CLOEXEC);
          if (client >= 0) readers.push_back({client, {}, false});
        }
      }
      // Walk backwards so that closing a reader leaves the others' indices alone.
      for (std::size_t i = polled.size(); i-- > first;) {
        if (!polled[i].revents) continue;
        Reader& reader = readers[i - first];
        const ssize_t got = ::read(reader.fd, buffer.data(), buffer.size());
        if (got > 0) {
          reader.pending.append(buffer.data(), static_cast<std::size_t>(got));
          takeLines(shared, reader);
          continue;
        }
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        endOfWriter(shared, readers, i - first);
      }
    }
    // A FIFO is one of the readers (gone already if it could not be opened
    // again); a listening socket is not.
    for (const auto& reader : readers) ::close(reader.fd);
    if (shared->listening) ::close(shared->source);
    ::close(shared->wakeRead);
  }
};

std::unique_ptr<SimControlChannel> SimControlChannel::open(const std::string& path,
                                                           std::shared_ptr<SimDesktop> desktop,
                                                           RunLoop& mainLoop, std::string& error) {
  auto shared = std::make_shared<Shared>();
  shared->loop = &mainLoop;
  shared->desktop = std::move(desktop);
  const std::string named = "control channel " + path + ": ";

  struct stat info {};
  const bool exists = ::stat(path.c_str(), &info) == 0;
  if (exists && S_ISFIFO(info.st_mode)) {
    // Without blocking until a writer comes; the FIFO reads as ended each time
    // its last writer goes, and is opened again then.
    shared->source = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    shared->fifoPath = path;
    if (shared->source < 0) {
      error = named + std::strerror(errno);
      return nullptr;
    }
  } else {
    if (exists && !S_ISSOCK(info.st_mode)) {
      error = named + "exists and is neither a FIFO nor a socket";
      return nullptr;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof(address.sun_path)) {
      error = named + "the path is too long for a socket";
      return nullptr;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    // A socket left behind by an earlier run.
    if (exists) ::unlink(path.c_str());
    shared->source = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (shared->source < 0 ||
        ::bind(shared->source, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(shared->source, 16) != 0) {
      error = named + std::strerror(errno);
      if (shared->source >= 0) ::close(shared->source);
      return nullptr;
    }
    shared->listening = true;
    shared->socketPath = path;
  }

  int wake[2];
  if (::pipe2(wake, O_CLOEXEC) != 0) {
    error = named + std::strerror(errno);
    ::close(shared->source);
    if (shared->listening) ::unlink(path.c_str());
    return nullptr;
  }
  shared->wakeRead = wake[0];
  shared->wakeWrite = wake[1];
  // Detached: it blocks in poll until the channel closes.
  std::thread(Shared::run, shared).detach();
  return std::unique_ptr<SimControlChannel>(new SimControlChannel(shared));
}

SimControlChannel::~SimControlChannel() {
  {
    std::lock_guard lock(shared_->mutex);
    shared_->loop = nullptr;
  }
  if (shared_->listening) ::unlink(shared_->socketPath.c_str());
  // Closing the write end wakes the reading thread, which then closes the rest.
  ::close(shared_->wakeWrite);
}

bool SimControlChannel::apply(std::string_view line, SimControl& control, RunLoop& mainLoop,
                              std::string& error) {
  if (isBlank(line)) return true;
  const auto parsed = JSONInput::parse(line);
  if (!parsed) {
    error = "not valid JSON";
    return false;
  }
  const json& command = *parsed;
  if (!command.is_object()) {
    error = "not a JSON object";
    return false;
  }
  auto op = stringMember(command, "op", error);
  if (!op) return false;
  auto handler = handlers().find(*op);
  if (handler == handlers().end()) {
    error = "unknown op \"" + *op + "\"";
    return false;
  }
  return handler->second(command, control, mainLoop, error);
}

}  // namespace nolari::platform

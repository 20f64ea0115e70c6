// A stand-in for the application that drives the four programs, to show and test
// the road of one dictation on a real desktop: space held down records from the
// microphone, its release transcribes, and the text is written into the focused
// field. A demonstration and test harness, not a product.
//
//   dictation_parent <folder holding ambrel/, tarnet/, sondra/, velkit/> [--device NAME]
//                    [--space-hold-ms N] [--work DIR]
//
// Every line exchanged is printed with the seconds since start: "→ ambrel" went
// to it, "← ambrel" came from it; "= " lines are the parent's own reports. It ends
// on SIGINT or SIGTERM, or when one of the programs exits, and stops them all.

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "AlsaRecorder.h"
#include "Child.h"

namespace nolari::parent {
namespace {

using json = nlohmann::json;
using Clock = std::chrono::steady_clock;

// The meter's updates while recording: the blob's waveform moves at this rate.
constexpr std::chrono::milliseconds LEVEL_PERIOD{40};
// Words shorter than this say little about what the user will dictate.
constexpr size_t MIN_CONTEXT_WORD = 3;
constexpr size_t MAX_CONTEXT_WORDS = 64;

// How long a velkit command may take before it counts as failed: an application
// that does not answer must not hold up the dictation.
constexpr std::chrono::seconds TOOL_DEADLINE{5};

// The signal handler writes to this pipe, so a signal that comes just before the
// wait still ends it.
int stopPipe[2] = {-1, -1};

void requestStop(int) {
  const char byte = 1;
  [[maybe_unused]] const auto wrote = ::write(stopPipe[1], &byte, 1);
}

double millisecondsBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

// The words of the focused application's texts, in the order first met.
std::vector<std::string> contextWords(const json& context) {
  std::vector<std::string> words;
  std::set<std::string> seen;
  auto take = [&](const std::string& text) {
    std::string word;
    auto flush = [&] {
      if (word.size() >= MIN_CONTEXT_WORD && words.size() < MAX_CONTEXT_WORDS &&
          seen.insert(word).second) {
        words.push_back(word);
      }
      word.clear();
    };
    for (char c : text) {
      // Bytes of UTF-8 sequences are letters here, so names keep their accents.
      const auto byte = static_cast<unsigned char>(c);
      if (std::isalpha(byte) || byte >= 0x80 || c == '\'') {
        word.push_back(c);
      } else {
        flush();
      }
    }
    flush();
  };
  for (const char* key : {"window_title", "focused_title", "focused_label", "focused_placeholder",
                          "focused_value", "browser_page_title"}) {
    if (context.contains(key) && context[key].is_string()) take(context[key].get<std::string>());
  }
  for (const char* key : {"visible_texts", "breadcrumbs"}) {
    if (!context.contains(key) || !context[key].is_array()) continue;
    for (const auto& text : context[key]) {
      if (text.is_string()) take(text.get<std::string>());
    }
  }
  return words;
}

class Parent {
 public:
  Parent(std::string programs, std::string device, int spaceHoldMs, std::string work)
      : programs_(std::move(programs)),
        recorder_(std::move(device)),
        spaceHoldMs_(spaceHoldMs),
        work_(std::move(work)),
        started_(Clock::now()) {}

  int run() {
    for (const char* name : {"ambrel", "tarnet", "sondra"}) {
      std::string error;
      auto child = Child::start({programPath(name)}, error);
      if (!child) {
        report({{"event", "failed"}, {"why", error}});
        return 1;
      }
      children_[name] = std::move(child);
    }
    sendTo("ambrel",
           {{"type", "dictation_set_space_hold"}, {"enabled", true}, {"delay_ms", spaceHoldMs_}});
    sendTo("ambrel", {{"type", "set_shortcuts"}, {"write_accel", "control+shift+w"}});
    sendTo("ambrel", {{"type", "dictation_set_hotkey"}, {"command_accel", "control+shift+d"}});
    int status = loop();
    stopAll();
    return status;
  }

 private:
  std::string programPath(const std::string& name) const {
    std::string path = programs_;
    path.append("/").append(name).append("/").append(name);
    return path;
  }

  void print(const std::string& arrow, const std::string& text) {
    std::printf("%8.3f  %s %s\n", millisecondsBetween(started_, Clock::now()) / 1000.0,
                arrow.c_str(), text.c_str());
    std::fflush(stdout);
  }

  void report(const json& what) { print("=", what.dump()); }

  void sendTo(const std::string& name, const json& message) {
    const std::string line = message.dump();
    print(std::string("→ ").append(name), line);
    auto found = children_.find(name);
    if (found == children_.end() || !found->second->send(line)) {
      report({{"event", "send_failed"}, {"program", name}});
    }
  }

  void runTool(const std::string& purpose, const std::vector<std::string>& args) {
    std::vector<std::string> argv{programPath("velkit")};
    argv.insert(argv.end(), args.begin(), args.end());
    std::string shown;
    for (const auto& arg : args) shown.append(shown.empty() ? "" : " ").append(json(arg).dump());
    print("→ velkit", shown);
    std::string error;
    auto child = Child::start(argv, error);
    if (!child) {
      report({{"event", "failed"}, {"program", "velkit"}, {"why", error}});
      toolDone(purpose, json());
      return;
    }
    child->closeInput();
    tools_.push_back({purpose, std::move(child), {}, Clock::now() + TOOL_DEADLINE});
  }

  int loop() {
    auto nextLevel = Clock::now();
    for (;;) {
      std::vector<pollfd> fds{{stopPipe[0], POLLIN, 0}};
      std::vector<std::string> owners{""};
      for (const auto& [name, child] : children_) {
        fds.push_back({child->outputFd(), POLLIN, 0});
        owners.push_back(name);
      }
      for (const auto& tool : tools_) fds.push_back({tool.child->outputFd(), POLLIN, 0});
      std::optional<Clock::time_point> wake;
      if (recorder_.recording()) wake = nextLevel;
      for (const auto& tool : tools_) wake = std::min(wake.value_or(tool.deadline), tool.deadline);
      int timeout = -1;
      if (wake) {
        timeout = static_cast<int>(std::max<int64_t>(
            0,
            std::chrono::duration_cast<std::chrono::milliseconds>(*wake - Clock::now()).count()));
      }
      const int ready = ::poll(fds.data(), fds.size(), timeout);
      if (ready < 0 && errno != EINTR) {
        report({{"event", "failed"}, {"why", "poll"}});
        return 1;
      }
      if (recorder_.recording() && Clock::now() >= nextLevel) {
        sendTo("ambrel", {{"type", "action_blob_set_audio_level"}, {"level", recorder_.level()}});
        nextLevel = Clock::now() + LEVEL_PERIOD;
      }
      if (fds[0].revents != 0) break;
      for (size_t i = 1; i < owners.size(); ++i) {
        if (fds[i].revents == 0) continue;
        std::vector<std::string> lines;
        const bool open = children_[owners[i]]->read(lines);
        for (const auto& line : lines) fromChild(owners[i], line);
        if (!open) {
          const int status = children_[owners[i]]->stop();
          report({{"event", "child_exited"}, {"program", owners[i]}, {"status", status}});
          children_.erase(owners[i]);
          return 1;
        }
      }
      for (size_t i = owners.size(); i < fds.size(); ++i) {
        auto& tool = tools_[i - owners.size()];
        const bool late = Clock::now() >= tool.deadline;
        if (fds[i].revents == 0 && !late) continue;
        if (!late && tool.child->read(tool.lines)) continue;
        if (late) {
          report({{"event", "tool_timed_out"}, {"purpose", tool.purpose}});
          tool.lines.clear();
        }
        // A command that gave its answer is ending by itself; a late one is not waited for.
        tool.child->stop(late ? std::chrono::milliseconds(0) : std::chrono::milliseconds(2000));
        json answer;
        if (!tool.lines.empty()) {
          print("← velkit", tool.lines.front());
          answer = json::parse(tool.lines.front(), nullptr, false);
        }
        const std::string purpose = tool.purpose;
        tool.child.reset();
        toolDone(purpose, answer.is_discarded() ? json() : answer);
      }
      std::erase_if(tools_, [](const Tool& tool) { return !tool.child; });
    }
    report({{"event", "stopping"}});
    return 0;
  }

  void fromChild(const std::string& name, const std::string& line) {
    print(std::string("← ").append(name), line);
    const json message = json::parse(line, nullptr, false);
    if (!message.is_object()) {
      report({{"event", "bad_line"}, {"program", name}});
      return;
    }
    if (name == "ambrel") {
      const std::string type = message.value("type", "");
      if (type == "dictation_ptt_down") pttDown();
      if (type == "dictation_ptt_up") pttUp();
      if (type == "action_blob_click" && message.value("state", "") == "ready") insertHeld();
      if (type == "action_blob_discard") discardHeld();
    } else if (name == "sondra" && message.value("id", "") == dictationId()) {
      transcribed(message);
    }
  }

  std::string dictationId() const { return std::to_string(dictations_); }

  void pttDown() {
    if (recorder_.recording()) return;
    std::string error;
    if (!recorder_.start(error)) {
      report({{"event", "failed"}, {"why", error}});
      sendTo("ambrel", {{"type", "action_blob_state"}, {"state", "error"}, {"message", error}});
      return;
    }
    ++dictations_;
    context_ = json();
    contextPending_ = true;
    transcriptPending_ = false;
    draft_.reset();
    draftPending_ = true;
    writePending_ = false;
    held_ = false;
    report({{"event", "recording"}, {"dictation", dictationId()}});
    sendTo("ambrel", {{"type", "action_blob_set_dictation_state"}, {"state", "recording"}});
    runTool("context", {"get-context"});
    // The context's copy of the field's value is shortened; the draft must be whole.
    runTool("draft", {"get-focused"});
  }

  void pttUp() {
    if (!recorder_.recording()) return;
    released_ = Clock::now();
    const std::string failure = recorder_.failure();
    const auto samples = recorder_.stop();
    sendTo("ambrel", {{"type", "action_blob_set_dictation_state"}, {"state", "transcribing"}});
    audioPath_ = work_;
    audioPath_.append("/dictation-").append(dictationId()).append(".wav");
    std::string error = failure;
    if (error.empty() && !writeWav(audioPath_, samples, error)) error.insert(0, "cannot save: ");
    report({{"event", "recorded"},
            {"seconds", static_cast<double>(samples.size()) / AlsaRecorder::RATE},
            {"path", audioPath_},
            {"error", error}});
    if (!error.empty()) {
      sendTo("ambrel", {{"type", "action_blob_state"}, {"state", "error"}, {"message", error}});
      return;
    }
    transcriptPending_ = true;
    if (!contextPending_) transcribe();
  }

  void transcribe() {
    transcriptPending_ = false;
    transcribeSent_ = Clock::now();
    sendTo("sondra", {{"id", dictationId()},
                      {"op", "transcribe"},
                      {"audio_path", audioPath_},
                      {"locale", "en-US"},
                      {"contextual_strings", contextWords(context_)}});
  }

  void transcribed(const json& response) {
    transcribeAnswered_ = Clock::now();
    if (response.value("status", "") != "ok" || !response.contains("text") ||
        !response["text"].is_string()) {
      sendTo("ambrel", {{"type", "action_blob_state"},
                        {"state", "error"},
                        {"message", response.value("message", "Transcription failed")}});
      return;
    }
    text_ = response["text"].get<std::string>();
    sondraMs_ = response.value("duration_ms", -1.0);
    if (text_.empty()) {
      sendTo("ambrel",
             {{"type", "action_blob_state"}, {"state", "info"}, {"message", "No speech"}});
      return;
    }
    // A dictation goes into the field at once. One that cannot is held, and the
    // ready blob offers it to insert with a click.
    held_ = true;
    writePending_ = true;
    if (!draftPending_) write();
  }

  // velkit write-text sets the field's whole value, so the dictation goes after
  // what the field held when the key went down, the draft kept. A draft that
  // could not be read is not overwritten.
  void write() {
    writePending_ = false;
    if (!draft_) {
      report({{"event", "draft_unread"}, {"text", text_}});
      offerHeld();
      return;
    }
    writing_ = true;
    runTool("write", {"write-text", fieldValueWith(text_)});
  }

  // The ready blob's Insert, or a click on it: the field's draft is read again,
  // since the user may have typed since the key went down.
  void insertHeld() {
    if (!held_ || writing_ || draftPending_ || recorder_.recording()) return;
    draft_.reset();
    draftPending_ = true;
    writePending_ = true;
    runTool("draft", {"get-focused"});
  }

  void offerHeld() { sendTo("ambrel", {{"type", "action_blob_state"}, {"state", "ready"}}); }

  void discardHeld() {
    if (!held_ || writing_) return;
    held_ = false;
    sendTo("ambrel", {{"type", "action_blob_state"}, {"state", "idle"}});
  }

  // The space the key typed, if it reached the field, separates the two.
  std::string fieldValueWith(const std::string& text) const {
    std::string value = *draft_;
    if (!value.empty() && std::isspace(static_cast<unsigned char>(value.back())) == 0) {
      value.push_back(' ');
    }
    return value.append(text);
  }

  void toolDone(const std::string& purpose, const json& answer) {
    if (purpose == "context") {
      context_ = answer.is_object() ? answer : json::object();
      contextPending_ = false;
      if (transcriptPending_) transcribe();
      return;
    }
    if (purpose == "draft") {
      if (answer.is_object() && answer.contains("value") && answer["value"].is_string()) {
        draft_ = answer["value"].get<std::string>();
      }
      draftPending_ = false;
      if (writePending_) write();
      return;
    }
    writing_ = false;
    const auto written = Clock::now();
    const bool success = answer.is_object() && answer.value("status", "") == "success";
    report({{"event", success ? "written" : "write_failed"},
            {"text", text_},
            {"release_to_text_ms", millisecondsBetween(released_, written)},
            {"sondra_duration_ms", sondraMs_},
            {"sondra_round_trip_ms", millisecondsBetween(transcribeSent_, transcribeAnswered_)}});
    if (!success) {
      offerHeld();
      return;
    }
    held_ = false;
    sendTo("ambrel", {{"type", "action_blob_state"}, {"state", "success"}, {"message", "Written"}});
    sendTo("ambrel", {{"type", "write_success"},
                      {"task_id", dictationId()},
                      {"prompt_key", "dictation"},
                      {"app_name", context_.value("source_application", "unknown")},
                      {"source_bundle_id", context_.value("source_bundle_id", "")}});
  }

  void stopAll() {
    recorder_.stop();
    for (auto& tool : tools_) tool.child->stop();
    tools_.clear();
    for (auto& [name, child] : children_) {
      const int status = child->stop();
      report({{"event", "stopped"}, {"program", name}, {"status", status}});
    }
    children_.clear();
  }

  struct Tool {
    std::string purpose;
    std::unique_ptr<Child> child;
    std::vector<std::string> lines;
    Clock::time_point deadline;
  };

  std::string programs_;
  AlsaRecorder recorder_;
  int spaceHoldMs_;
  std::string work_;
  Clock::time_point started_;
  std::map<std::string, std::unique_ptr<Child>> children_;
  std::vector<Tool> tools_;
  int dictations_ = 0;
  json context_;
  bool contextPending_ = false;
  bool transcriptPending_ = false;
  std::optional<std::string> draft_;
  bool draftPending_ = false;
  bool writePending_ = false;
  bool writing_ = false;
  // The transcribed text is not in the field yet.
  bool held_ = false;
  std::string audioPath_;
  std::string text_;
  double sondraMs_ = -1;
  Clock::time_point released_;
  Clock::time_point transcribeSent_;
  Clock::time_point transcribeAnswered_;
};

}  // namespace
}  // namespace nolari::parent

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty() || args[0].starts_with("-")) {
    std::fprintf(stderr,
                 "usage: dictation_parent <programs folder> [--device NAME] [--space-hold-ms N] "
                 "[--work DIR]\n");
    return 2;
  }
  std::string device = "default";
  std::string work = "/tmp";
  int spaceHoldMs = 300;
  for (size_t i = 1; i + 1 < args.size(); i += 2) {
    if (args[i] == "--device") device = args[i + 1];
    if (args[i] == "--space-hold-ms") spaceHoldMs = std::atoi(args[i + 1].c_str());
    if (args[i] == "--work") work = args[i + 1];
  }
  if (::pipe2(nolari::parent::stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) return 1;
  struct sigaction action {};
  action.sa_handler = nolari::parent::requestStop;
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
  ::signal(SIGPIPE, SIG_IGN);
  try {
    return nolari::parent::Parent(args[0], device, spaceHoldMs, work).run();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "dictation_parent: %s\n", error.what());
    return 1;
  }
}

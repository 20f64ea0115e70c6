#include "support/Transcript.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>

#include <nlohmann/json.hpp>

#include "support/JsonMatch.h"
#include "support/Subprocess.h"
#include "support/TempDir.h"

namespace nolari::test {

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using nlohmann::json;

constexpr std::chrono::milliseconds LINE_TIMEOUT = 5s;
constexpr std::chrono::milliseconds EXIT_TIMEOUT = 10s;

std::string transcriptsDir(const std::string& program) {
  return std::string(NOLARI_TESTS_DIR) + "/" + program + "/transcripts";
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// "\xHH" and "\t" written out, for bytes a transcript cannot hold as text.
std::string unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x') {
      out += static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16));
      i += 3;
    } else if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == 't') {
      out += '\t';
      i += 1;
    } else {
      out += text[i];
    }
  }
  return out;
}

struct Step {
  enum Kind { INPUT, CONTROL, EXPECT, EXPECT_EXACT, ANY_ORDER, STDERR, LOG };
  Kind kind;
  int line;
  std::vector<std::string>
      texts;  // several for control lines written together and unordered groups
};

struct Run {
  int line = 0;
  std::vector<std::string> args;
  std::optional<int> status = 0;  // none: still running at the end, and then killed
  std::vector<Step> steps;
};

struct Transcript {
  std::string scene;
  json scenePatch = json::object();
  std::optional<json> config;
  std::string speech;
  std::vector<std::string> files;
  bool control = false;
  bool malformedInput = false;
  std::vector<Run> runs;
};

Transcript parse(const std::string& path, const std::string& dir) {
  static const std::map<std::string, Step::Kind> STEPS = {
      {">", Step::INPUT},  {">~", Step::INPUT},        {"@>", Step::CONTROL},
      {"<", Step::EXPECT}, {"<=", Step::EXPECT_EXACT}, {"<~", Step::ANY_ORDER},
      {"!", Step::STDERR}, {"log:", Step::LOG}};
  Transcript transcript;
  std::map<std::string, std::string> defined{{"$DIR", dir}};
  int number = 0;
  auto startRun = [&](std::vector<std::string> args) {
    transcript.runs.emplace_back();
    transcript.runs.back().line = number;
    transcript.runs.back().args = std::move(args);
  };
  auto run = [&]() -> Run& {
    if (transcript.runs.empty()) startRun({});
    return transcript.runs.back();
  };
  std::ifstream file(path);
  for (std::string line; std::getline(file, line);) {
    ++number;
    if (line.empty() || line[0] == '#') continue;
    const auto space = line.find(' ');
    const std::string head = line.substr(0, space);
    std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
    // In reverse order, so that a name is replaced before a shorter one it starts with.
    for (auto it = defined.rbegin(); it != defined.rend(); ++it)
      rest = replaceAll(rest, it->first, it->second);
    if (auto kind = STEPS.find(head); kind != STEPS.end()) {
      if (head == ">~") rest = unescape(rest);
      auto& steps = run().steps;
      const bool joins = kind->second == Step::CONTROL || kind->second == Step::ANY_ORDER;
      if (joins && !steps.empty() && steps.back().kind == kind->second) {
        steps.back().texts.push_back(rest);
      } else {
        steps.push_back({kind->second, number, {rest}});
      }
      transcript.control = transcript.control || kind->second == Step::CONTROL;
    } else if (head == "run:") {
      startRun(json::parse(rest).get<std::vector<std::string>>());
    } else if (head == "status:") {
      run().status = rest == "running" ? std::nullopt : std::optional<int>(std::stoi(rest));
    } else if (head == "scene:") {
      transcript.scene = rest;
    } else if (head == "scene-patch:") {
      transcript.scenePatch = json::parse(rest);
    } else if (head == "config:") {
      transcript.config = json::parse(rest);
    } else if (head == "speech:") {
      transcript.speech = rest;
    } else if (head == "file:") {
      transcript.files.push_back(rest);
    } else if (head == "input:" && rest == "malformed") {
      transcript.malformedInput = true;
    } else if (head == "define:") {
      const auto gap = rest.find(' ');
      defined["$" + rest.substr(0, gap)] = gap == std::string::npos ? "" : rest.substr(gap + 1);
    } else {
      ADD_FAILURE_AT(path.c_str(), number) << "not a transcript line: " << line;
    }
  }
  return transcript;
}

std::string joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines) text += "  " + line + "\n";
  return text;
}

// Closes the descriptor it holds when it goes.
struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

// Writes in one go, so that the program reads the lines together. The FIFO is
// opened without waiting: the program opens it before its first output line.
bool writeControl(Fd& control, const std::string& path, const std::string& bytes) {
  if (control.fd < 0) control.fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (control.fd < 0) return false;
  ::fcntl(control.fd, F_SETFL, 0);
  for (std::size_t done = 0; done < bytes.size();) {
    ssize_t wrote = ::write(control.fd, bytes.data() + done, bytes.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    done += static_cast<std::size_t>(wrote);
  }
  return true;
}

void play(const std::string& program, const std::string& path, const Run& run,
          ProcessOptions options, const TempDir& dir) {
  testing::ScopedTrace runTrace(path.c_str(), run.line, "run " + json(run.args).dump());
  options.args = run.args;
  const std::string logFile = dir.file("logs/nolari.log");
  const auto logLinesBefore = static_cast<long>(linesOf(readFile(logFile)).size());
  auto process = RunningProcess::start(programPath(program), options);
  ASSERT_TRUE(process) << "cannot start " << program << ": " << std::strerror(errno);
  Fd control;
  auto next = [&]() {
    bool complete = false;
    auto line = process->readLine(LINE_TIMEOUT, &complete);
    if (line && !complete) ADD_FAILURE() << "the output ends without a line feed: " << *line;
    return line;
  };

  for (const Step& step : run.steps) {
    testing::ScopedTrace trace(path.c_str(), step.line, step.texts.front());
    switch (step.kind) {
      case Step::INPUT:
        ASSERT_TRUE(process->writeLine(step.texts.front())) << "standard input is closed";
        break;
      case Step::CONTROL: {
        std::string bytes;
        for (const auto& text : step.texts) bytes += text + "\n";
        ASSERT_TRUE(writeControl(control, dir.file("control"), bytes))
            << "cannot write to the control channel: " << std::strerror(errno);
        break;
      }
      case Step::EXPECT_EXACT: {
        auto got = next();
        ASSERT_TRUE(got) << "no line within " << LINE_TIMEOUT.count() << " ms; standard error:\n"
                         << process->stderrText();
        EXPECT_EQ(*got, step.texts.front());
        break;
      }
      case Step::EXPECT:  // an unordered group of one
      case Step::ANY_ORDER: {
        std::vector<std::string> pending = step.texts;
        while (!pending.empty()) {
          auto got = next();
          ASSERT_TRUE(got) << "no line within " << LINE_TIMEOUT.count() << " ms; expected:\n"
                           << joined(pending) << "standard error:\n"
                           << process->stderrText();
          const json actual = json::parse(*got, nullptr, false);
          auto match = std::find_if(
              pending.begin(), pending.end(),
              [&](const std::string& pattern) { return matches(json::parse(pattern), actual); });
          ASSERT_NE(match, pending.end()) << "got " << *got << "\nexpected:\n" << joined(pending);
          pending.erase(match);
        }
        break;
      }
      case Step::STDERR:
      case Step::LOG:
        break;  // checked once the run has ended and its standard error is complete
    }
  }

  ProcessResult result;
  if (run.status) {
    result = process->wait(EXIT_TIMEOUT);
    EXPECT_FALSE(result.timedOut) << "the program did not end once its input was closed";
    EXPECT_EQ(result.exitStatus, *run.status) << result.err;
  } else {
    process->kill();
    result = process->wait(EXIT_TIMEOUT);
    EXPECT_EQ(result.termSignal, SIGKILL) << "the program ended before the transcript did\n"
                                          << result.err;
  }
  EXPECT_EQ(result.out, "") << "output beyond the transcript (" << path << ")";

  std::string tag = program;
  tag[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(tag[0])));
  tag = "[" + tag + "] ";
  const std::vector<std::string> logLines = linesOf(readFile(logFile));
  for (const Step& step : run.steps) {
    testing::ScopedTrace trace(path.c_str(), step.line, step.texts.front());
    const std::string& text = step.texts.front();
    if (step.kind == Step::STDERR) {
      EXPECT_NE(result.err.find(text), std::string::npos) << "standard error lacks it:\n"
                                                          << result.err;
    } else if (step.kind == Step::LOG) {
      EXPECT_NE(result.err.find(tag + text + "\n"), std::string::npos)
          << "standard error lacks it:\n"
          << result.err;
      std::string loggedAs = "Z] ";
      loggedAs += tag;
      loggedAs += text;
      const bool logged = std::any_of(
          logLines.begin() + std::min(logLinesBefore, static_cast<long>(logLines.size())),
          logLines.end(), [&](const std::string& line) {
            return line.starts_with("[") && line.find(loggedAs) != std::string::npos &&
                   line.ends_with(text);
          });
      EXPECT_TRUE(logged) << "logs/nolari.log lacks it:\n" << readFile(logFile);
    }
  }
}

}  // namespace

std::vector<std::string> transcriptsOf(const std::string& program) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(transcriptsDir(program), error)) {
    if (entry.path().extension() == ".transcript")
      names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string transcriptTestName(const testing::TestParamInfo<std::string>& info) {
  std::string name = fs::path(info.param).stem().string();
  // Test names hold letters, digits and underscores only.
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name;
}

void runTranscript(const std::string& program, const std::string& fileName) {
  const std::string path = transcriptsDir(program) + "/" + fileName;
  ASSERT_TRUE(fs::exists(path)) << path;
  TempDir dir;
  const Transcript transcript = parse(path, dir.path());
  if (testing::Test::HasFailure()) return;

  ProcessOptions options;
  options.cwd = dir.path();
  options.timeout = EXIT_TIMEOUT;
  options.wellFormedInput = !transcript.malformedInput;
  // Only what the transcript asks for reaches the program.
  options.unsetEnv = {"NOLARI_PLATFORM",   "NOLARI_SIM_SCENE",   "NOLARI_SIM_CONTROL",
                      "NOLARI_SIM_COUNTS", "NOLARI_CONFIG_PATH", "NOLARI_SPEECH_SCRIPT"};
  fs::create_directory(dir.file("logs"));
  if (!transcript.scene.empty()) {
    // A copy, which the runs may write to; top-level members of the patch
    // replace the scene's whole, and null stays null ("frontmost": null).
    json scene =
        json::parse(readFile(std::string(NOLARI_SCENES_DIR) + "/" + transcript.scene + ".json"));
    for (const auto& [key, value] : transcript.scenePatch.items()) scene[key] = value;
    std::ofstream(dir.file("scene.json")) << scene.dump(2);
    options.env["NOLARI_PLATFORM"] = "sim";
    options.env["NOLARI_SIM_SCENE"] = dir.file("scene.json");
  }
  if (!transcript.speech.empty()) {
    options.env["NOLARI_PLATFORM"] = "sim";
    options.env["NOLARI_SPEECH_SCRIPT"] =
        transcriptsDir(program) + "/" + transcript.speech + ".json";
  }
  if (transcript.config) {
    std::ofstream(dir.file("config.json")) << transcript.config->dump();
    options.env["NOLARI_CONFIG_PATH"] = dir.file("config.json");
  }
  for (const auto& name : transcript.files) std::ofstream(dir.file(name)) << "x";
  if (transcript.control) {
    ASSERT_EQ(::mkfifo(dir.file("control").c_str(), 0600), 0) << std::strerror(errno);
    options.env["NOLARI_SIM_CONTROL"] = dir.file("control");
  }

  for (std::size_t i = 0; i < transcript.runs.size() && !testing::Test::HasFatalFailure(); ++i) {
    play(program, path, transcript.runs[i], options, dir);
  }
}

}  // namespace nolari::test

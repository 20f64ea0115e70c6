// The agent as a process on the simulated desktop, given what a careless
// parent gives it: a standard output it stops reading, a non-blocking standard
// input, one command of megabytes.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "support/Subprocess.h"
#include "support/TempDir.h"

namespace nolari::test {
namespace {

using json = nlohmann::json;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds LINE_TIMEOUT = 20s;

class AmbrelProcess : public testing::Test {
 protected:
  ~AmbrelProcess() override {
    if (control_ >= 0) ::close(control_);
    if (input_ >= 0) ::close(input_);
  }

  void start(bool nonBlockingStdin = false) {
    ASSERT_EQ(::mkfifo(dir_.file("control").c_str(), 0600), 0);
    ProcessOptions options;
    options.cwd = dir_.path();
    options.unsetEnv = {"NOLARI_SIM_COUNTS", "NOLARI_CONFIG_PATH", "NOLARI_SPEECH_SCRIPT"};
    options.env = {{"NOLARI_PLATFORM", "sim"},
                   {"NOLARI_SIM_SCENE", std::string(NOLARI_SCENES_DIR) + "/mail_compose.json"},
                   {"NOLARI_SIM_CONTROL", dir_.file("control")}};
    options.nonBlockingStdin = nonBlockingStdin;
    process_ = RunningProcess::start(programPath("ambrel"), options);
    ASSERT_TRUE(process_);
    ASSERT_EQ(next("type").value("event", ""), "startup");
    // The program opened the channel before its first line.
    control_ = ::open(dir_.file("control").c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(control_, 0);
  }

  void control(const json& line) {
    const std::string bytes = line.dump() + "\n";
    ASSERT_EQ(::write(control_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  // The next line holding `key`; lines without it are passed over.
  json next(const std::string& key) {
    for (;;) {
      auto line = process_->readLine(LINE_TIMEOUT);
      if (!line) {
        ADD_FAILURE() << "no line with \"" << key << "\"; standard error:\n"
                      << process_->stderrText();
        return json::object();
      }
      json parsed = json::parse(*line, nullptr, false);
      if (parsed.is_object() && parsed.contains(key)) return parsed;
    }
  }
  json nextOfType(const std::string& type) {
    for (;;) {
      json line = next("type");
      if (line.empty() || line["type"] == type) return line;
    }
  }

  json commandListWindow() {
    control({{"op", "report_windows"}});
    const json report = next("windows");
    for (const json& window : report["windows"]) {
      if (window.value("name", "") == "command-list") return window;
    }
    return json::object();
  }

  // Straight into the program's standard input, without reading anything of
  // its output meanwhile; false when it did not take it all in time.
  bool writeUnread(const std::string& bytes) {
    if (input_ < 0) {
      const std::string path = "/proc/" + std::to_string(process_->pid()) + "/fd/0";
      input_ = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
      if (input_ < 0) return false;
    }
    const auto deadline = Clock::now() + LINE_TIMEOUT;
    for (std::size_t done = 0; done < bytes.size();) {
      const ssize_t wrote = ::write(input_, bytes.data() + done, bytes.size() - done);
      if (wrote > 0) {
        done += static_cast<std::size_t>(wrote);
        continue;
      }
      if (wrote < 0 && errno != EAGAIN && errno != EINTR) return false;
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left <= 0ms) return false;
      pollfd writable{input_, POLLOUT, 0};
      ::poll(&writable, 1, static_cast<int>(left.count()));
    }
    return true;
  }

  // Whether standard error came to hold `text` in time; standard output
  // stays unread.
  bool logged(const std::string& text) {
    const auto deadline = Clock::now() + LINE_TIMEOUT;
    while (process_->stderrTextOnly().find(text) == std::string::npos) {
      if (Clock::now() >= deadline) return false;
      std::this_thread::sleep_for(20ms);
    }
    return true;
  }

  TempDir dir_;
  std::unique_ptr<RunningProcess> process_;
  int control_ = -1;
  int input_ = -1;
};

// The parent stops reading while the list holds the keyboard, and far more
// lines than the pipe takes are written: commands are still handled, the list
// still shows and closes on Escape, and the keyboard goes back to the desktop.
TEST_F(AmbrelProcess, AFullOutputPipeHoldsUpNeitherCommandsNorTheKeyboard) {
  start();
  control({{"op", "echo"}, {"data", "taps"}, {"after", 0.5}});
  next("echo");
  ASSERT_TRUE(
      process_->writeLine(R"({"type":"show_list","items":[{"trigger":"a","preview":"b"}]})"));
  // The first text laid out loads the fonts.
  control({{"op", "echo"}, {"data", "shown"}, {"after", 3}});
  next("echo");
  ASSERT_EQ(commandListWindow().value("holds_keyboard", false), true);

  std::string flood;
  for (int i = 0; i < 3000; ++i)
    flood += R"({"type":"set_shortcuts","write_accel":"command+shift+x"})"
             "\n";
  flood +=
      R"({"type":"show_list","items":[{"trigger":"a","preview":"b"},{"trigger":"c","preview":"d"}]})"
      "\n";
  ASSERT_TRUE(writeUnread(flood));
  // The command thread went through every line, and the main loop showed the
  // list again, while nobody read.
  ASSERT_TRUE(logged("CommandListPanel.show mode=list items=2"));
  control({{"op", "key"}, {"key", "escape"}});

  EXPECT_EQ(nextOfType("list_dismissed")["mode"], "list");
  control({{"op", "echo"}, {"data", "faded"}, {"after", 0.5}});
  next("echo");
  const json window = commandListWindow();
  EXPECT_EQ(window.value("holds_keyboard", true), false);
  EXPECT_EQ(window.value("visible", true), false);
}

// A parent may hand over its own non-blocking descriptor: the reader waits for
// input instead of taking "try again" for the end.
TEST_F(AmbrelProcess, ANonBlockingInputIsReadAsItComes) {
  start(true);
  ASSERT_TRUE(process_->writeLine(R"({"type":"set_shortcuts","write_accel":"command+shift+x"})"));
  EXPECT_EQ(nextOfType("status").value("event", ""), "hotkey_updated");
  ASSERT_TRUE(process_->writeLine(R"({"type":"dictation_arm"})"));
  EXPECT_EQ(nextOfType("dictation_ptt_down").value("source", ""), "stdin");
}

// A list of 270,000 items, about 8 MB on one line, is taken whole and the
// commands after it are answered.
TEST_F(AmbrelProcess, AListOfMegabytesIsTakenAndTheNextCommandAnswered) {
  start();
  std::string line = R"({"type":"show_list","items":[)";
  for (int i = 0; i < 270'000; ++i) {
    if (i > 0) line += ',';
    line += R"({"trigger":"t)" + std::to_string(i) + R"(","preview":"preview )" +
            std::to_string(i) + "\"}";
  }
  line += "]}";
  ASSERT_GT(line.size(), 8'000'000u);
  ASSERT_TRUE(process_->writeLine(line));
  ASSERT_TRUE(process_->writeLine(R"({"type":"set_shortcuts","write_accel":"command+shift+x"})"));
  EXPECT_EQ(nextOfType("status").value("event", ""), "hotkey_updated");
  EXPECT_TRUE(logged("show_list: 270000 items"));
}

}  // namespace
}  // namespace nolari::test

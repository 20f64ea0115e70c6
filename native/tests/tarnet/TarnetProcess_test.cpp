// The tarnet program on the simulated desktop, driven through the desktop's
// control channel the way a user and the real desktop would drive it. These
// run on real time: each waits for lines with a time-out, never sleeps, and
// the longest waits for the four default delayed checks (0.6 seconds).

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <map>

#include <nlohmann/json.hpp>

#include "support/Subprocess.h"
#include "support/TempDir.h"
#include "support/Transcript.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using nolari::test::ProcessOptions;
using nolari::test::RunningProcess;
using nolari::test::TempDir;

constexpr auto LINE_TIMEOUT = 5s;

bool writeAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t wrote = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    done += static_cast<std::size_t>(wrote);
  }
  return true;
}

// A running tarnet on a copy of the mail_compose scene, with a control channel that is a FIFO
// made here, or a socket that the program makes.
class Tarnet {
 public:
  struct Setup {
    json scenePatch = json::object();
    std::optional<json> config;
    bool socket = false;
  };

  explicit Tarnet(const Setup& setup) {
    std::ifstream in(std::string(NOLARI_SCENES_DIR) + "/mail_compose.json");
    json scene = json::parse(in);
    // Top-level members replaced whole; null stays null ("frontmost": null is no frontmost).
    for (auto it = setup.scenePatch.begin(); it != setup.scenePatch.end(); ++it)
      scene[it.key()] = it.value();
    std::ofstream(dir_.file("scene.json")) << scene.dump(2);
    control_ = dir_.file("control");
    if (!setup.socket) {
      EXPECT_EQ(::mkfifo(control_.c_str(), 0600), 0) << std::strerror(errno);
    }
    ProcessOptions options;
    options.env = {{"NOLARI_PLATFORM", "sim"},
                   {"NOLARI_SIM_SCENE", dir_.file("scene.json")},
                   {"NOLARI_SIM_CONTROL", control_}};
    if (setup.config) {
      std::ofstream(dir_.file("config.json")) << setup.config->dump();
      options.env["NOLARI_CONFIG_PATH"] = dir_.file("config.json");
    } else {
      options.unsetEnv = {"NOLARI_CONFIG_PATH"};
    }
    options.cwd = dir_.path();
    process_ = RunningProcess::start(nolari::test::programPath("tarnet"), options);
  }

  ~Tarnet() {
    if (fd_ >= 0) ::close(fd_);
  }

  bool running() const { return process_ != nullptr; }
  const std::string& controlPath() const { return control_; }

  // Writes control lines in one write, so that the program reads them together.
  // The channel is open once the program has written its first line.
  bool send(const std::string& lines) {
    if (fd_ < 0) fd_ = ::open(control_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
      ADD_FAILURE() << "cannot open the control FIFO: " << std::strerror(errno);
      return false;
    }
    ::fcntl(fd_, F_SETFL, 0);
    return writeAll(fd_, lines);
  }

  std::optional<std::string> line() { return process_->readLine(LINE_TIMEOUT); }
  std::string errors() { return process_->stderrText(); }

 private:
  TempDir dir_;
  std::string control_;
  std::unique_ptr<RunningProcess> process_;
  int fd_ = -1;
};

class TarnetTranscript : public testing::TestWithParam<std::string> {};

TEST_P(TarnetTranscript, LinesMatch) { nolari::test::runTranscript("tarnet", GetParam()); }

INSTANTIATE_TEST_SUITE_P(Transcripts, TarnetTranscript,
                         testing::ValuesIn(nolari::test::transcriptsOf("tarnet")),
                         nolari::test::transcriptTestName);

TEST(TarnetProcess, SocketChannelTakesSeveralWritersAndALastLineWithoutLineFeed) {
  Tarnet::Setup setup;
  setup.scenePatch = {{"frontmost", nullptr}};
  setup.socket = true;
  Tarnet tarnet(setup);
  ASSERT_TRUE(tarnet.running());
  ASSERT_EQ(tarnet.line(), R"x({"event":"started","type":"status"})x");
  auto connect = [&] {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, tarnet.controlPath().c_str(), sizeof address.sun_path - 1);
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0)
        << std::strerror(errno);
    return fd;
  };
  int first = connect();
  int second = connect();
  ASSERT_TRUE(writeAll(first, R"x({"op":"echo","data":"first"})x"
                              "\n"));
  EXPECT_EQ(tarnet.line(), R"x({"echo":"first"})x");
  ASSERT_TRUE(writeAll(second, R"x({"op":"activate","pid":502})x"));
  ::close(second);
  EXPECT_EQ(tarnet.line(), R"x({"status":"Observing pid 502 (Notes)"})x");
  ::close(first);
}

TEST(TarnetProcess, HugeAndBrokenControlLinesAreSkippedAndTheNextLineIsApplied) {
  Tarnet::Setup setup;
  setup.config = json::parse(
      R"x({"observer":{"enabled":true,"focus_retry_delays":[],"max_tree_depth":5,"max_tree_children":50}})x");
  Tarnet tarnet(setup);
  ASSERT_TRUE(tarnet.running());
  ASSERT_TRUE(tarnet.line());
  ASSERT_EQ(tarnet.line(), R"x({"status":"Observing pid 501 (Mail)"})x");
  const std::string huge =
      "{\"op\":\"echo\",\"data\":\"" + std::string(3 * 1024 * 1024, 'x') + "\"}\n";
  // Just over the limit, in two writes: the limit holds across reads.
  const std::string over = "{\"op\":\"echo\",\"data\":\"" + std::string(1024 * 1024, 'y');
  ASSERT_TRUE(tarnet.send(huge + "\xff\xfe{\n" + over));
  ASSERT_TRUE(
      tarnet.send("\"}\n"
                  R"x({"op":"echo","data":"after"})x"
                  "\n"));
  EXPECT_EQ(tarnet.line(), R"x({"echo":"after"})x");
  const std::string errors = tarnet.errors();
  EXPECT_NE(errors.find("[sim] [WARN] control channel: line ignored (longer than 1048576 bytes): "
                        "{\"op\":\"echo\",\"data\":\"xxx"),
            std::string::npos)
      << errors;
  EXPECT_NE(
      errors.find("line ignored (longer than 1048576 bytes): {\"op\":\"echo\",\"data\":\"yyy"),
      std::string::npos);
  EXPECT_NE(errors.find("line ignored (not valid JSON)"), std::string::npos) << errors;
}

// What a writer leaves without its line feed when it goes away is a line of
// its own, and never swallows the next writer's line.
TEST(TarnetProcess, LastWordsOfAWriterThatWentAwayStayApartFromTheNextLine) {
  Tarnet tarnet({});
  ASSERT_TRUE(tarnet.running());
  ASSERT_TRUE(tarnet.line());
  const int leaving = ::open(tarnet.controlPath().c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(leaving, 0);
  ASSERT_TRUE(writeAll(leaving, R"x({"op":"echo","data":"leaving"})x"));
  ::close(leaving);
  auto nextEcho = [&] {
    std::optional<std::string> line;
    while ((line = tarnet.line()) && line->find("echo") == std::string::npos) {
    }
    return line;
  };
  EXPECT_EQ(nextEcho(), R"x({"echo":"leaving"})x");
  ASSERT_TRUE(tarnet.send(R"x({"op":"echo","data":"next"})x"
                          "\n"));
  EXPECT_EQ(nextEcho(), R"x({"echo":"next"})x");
}

TEST(TarnetProcess, PlatformThatCannotBeConnectedEndsTheProgramWithStatus2) {
  TempDir dir;
  std::ofstream(dir.file("not_a_channel")) << "x";
  const std::pair<std::map<std::string, std::string>, std::string> cases[] = {
      {{{"NOLARI_PLATFORM", "sim"}}, "NOLARI_SIM_SCENE"},
      {{{"NOLARI_PLATFORM", "sim"},
        {"NOLARI_SIM_SCENE", std::string(NOLARI_SCENES_DIR) + "/mail_compose.json"},
        {"NOLARI_SIM_CONTROL", dir.file("not_a_channel")}},
       dir.file("not_a_channel") + ": exists and is neither a FIFO nor a socket"},
  };
  for (const auto& [env, message] : cases) {
    ProcessOptions options;
    options.env = env;
    options.unsetEnv = {"NOLARI_SIM_SCENE", "NOLARI_SIM_CONTROL"};
    options.cwd = dir.path();
    for (const auto& [name, value] : env) std::erase(options.unsetEnv, name);
    auto result = nolari::test::runProcess(nolari::test::programPath("tarnet"), options);
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find("[Tarnet] [ERROR] "), std::string::npos) << result.err;
    EXPECT_NE(result.err.find(message), std::string::npos) << result.err;
  }
}

}  // namespace

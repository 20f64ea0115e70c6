#include "platform/sim/ControlChannel.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "support/CaptureFd.h"
#include "support/SimPlatform.h"
#include "support/VirtualRunLoop.h"

namespace nolari::platform {
namespace {

using namespace std::chrono_literals;

class ControlChannelApply : public ::testing::Test {
 protected:
  ControlChannelApply() : sim_("mail_compose", makeLoop()) {
    sim_.workspace().addActivationObserver([this](const std::optional<RunningApplication>& app) {
      activations_.push_back(app ? app->pid : 0);
    });
  }

  std::unique_ptr<RunLoop> makeLoop() {
    auto loop = std::make_unique<VirtualRunLoop>();
    loop_ = loop.get();
    return loop;
  }

  // The error of a line that is ignored, or "applied".
  std::string apply(std::string_view line) {
    std::string error;
    return SimControlChannel::apply(line, sim_.desktop(), *loop_, error) ? "applied" : error;
  }

  VirtualRunLoop* loop_ = nullptr;
  test::SimPlatform sim_;
  std::vector<std::int32_t> activations_;
};

TEST_F(ControlChannelApply, MalformedLinesSayWhy) {
  EXPECT_EQ(apply(""), "applied");
  EXPECT_EQ(apply(" \t\r"), "applied");
  EXPECT_EQ(apply("{"), "not valid JSON");
  EXPECT_EQ(apply("{\"op\":\"activate\",\"pid\":501}\xff"), "not valid JSON");
  // A NUL would end the parse early; a value nested 30,000 deep would end the stack.
  EXPECT_EQ(apply(std::string("{\"op\":\"activate\",\"pid\":501}\0{}", 30)), "not valid JSON");
  EXPECT_EQ(apply(R"({"op":"activate","pid":501,"x":)" + std::string(30000, '[')),
            "not valid JSON");
  EXPECT_EQ(apply("\"activate\""), "not a JSON object");
  EXPECT_EQ(apply(R"({"op":7})"), "\"op\" must be a string");
  EXPECT_EQ(apply(R"({"op":"Activate","pid":501})"), "unknown op \"Activate\"");
  EXPECT_EQ(apply(R"({"op":"activate","pid":501.5})"), "\"pid\" must be a 32-bit integer");
  EXPECT_EQ(apply(R"({"op":"activate","pid":-2147483649})"), "\"pid\" must be a 32-bit integer");
  EXPECT_EQ(apply(R"({"op":"activate","pid":18446744073709551615})"),
            "\"pid\" must be a 32-bit integer");
  EXPECT_EQ(apply(R"({"op":"fail_next_observer_create"})"), "\"code\" must be a 32-bit integer");
  EXPECT_EQ(apply(R"({"op":"focus","element":["body"]})"), "\"element\" must be a string");
  EXPECT_EQ(apply(R"({"op":"focus","element":"to_label_typo"})"),
            "no element of a running application has the id \"to_label_typo\"");
  EXPECT_EQ(apply(R"({"op":"set_attribute","element":"body","attribute":"AXValue"})"),
            "\"value\" is missing");
  EXPECT_NE(
      apply(R"({"op":"set_attribute","element":"body","attribute":"AXValue","value":{"point":1}})"),
      "applied");
  loop_->runUntilIdle();
  EXPECT_TRUE(activations_.empty());
}

TEST_F(ControlChannelApply, EchoWritesItsDataAtOnceOrAfterItsDelay) {
  test::CaptureFd out(STDOUT_FILENO);
  EXPECT_EQ(apply(R"({"op":"echo","data":{"n":1}})"), "applied");
  EXPECT_EQ(apply(R"({"op":"echo","data":"later","after":0.25})"), "applied");
  EXPECT_EQ(apply(R"({"op":"echo"})"), "applied");
  EXPECT_EQ(apply(R"({"op":"echo","after":3601})"),
            "\"after\" must be a number of seconds from 0 to 3600");
  loop_->advance(249ms);
  const auto before = out.lines();
  loop_->advance(1ms);
  out.restore();
  EXPECT_EQ(before, (std::vector<std::string>{R"({"echo":{"n":1}})", R"({"echo":null})"}));
  EXPECT_EQ(out.lines().back(), R"({"echo":"later"})");
}

TEST(ControlChannelOpen, MakesItsSocketRemovesItAgainAndRefusesOtherFiles) {
  test::TempDir dir;
  test::SimPlatform sim("mail_compose");
  VirtualRunLoop loop;
  std::string error;
  const std::string socket = dir.file("control.sock");
  {
    auto channel = SimControlChannel::open(socket, sim.desktop().desktop(), loop, error);
    ASSERT_TRUE(channel) << error;
    struct stat info {};
    ASSERT_EQ(::stat(socket.c_str(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
  }
  EXPECT_FALSE(std::filesystem::exists(socket));

  ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
  EXPECT_TRUE(SimControlChannel::open(dir.file("fifo"), sim.desktop().desktop(), loop, error));
  EXPECT_TRUE(std::filesystem::exists(dir.file("fifo")));

  std::ofstream(dir.file("plain")) << "x";
  EXPECT_FALSE(SimControlChannel::open(dir.file("plain"), sim.desktop().desktop(), loop, error));
  EXPECT_EQ(error,
            "control channel " + dir.file("plain") + ": exists and is neither a FIFO nor a socket");
  EXPECT_FALSE(SimControlChannel::open(dir.file(std::string(120, 'x')), sim.desktop().desktop(),
                                       loop, error));
  EXPECT_NE(error.find("too long"), std::string::npos) << error;
  EXPECT_FALSE(
      SimControlChannel::open(dir.file("missing/control"), sim.desktop().desktop(), loop, error));
}

}  // namespace
}  // namespace nolari::platform

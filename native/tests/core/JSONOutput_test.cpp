#include "base/JSONOutput.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <limits>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/NolariLogger.h"
#include "support/CaptureFd.h"

namespace nolari {
namespace {

using nlohmann::json;
using test::CaptureFd;

const std::string FFFD = "\xEF\xBF\xBD";

// The lines written on standard output and standard error while `action` runs.
struct Written {
  std::vector<std::string> out;
  std::vector<std::string> err;
};

template <typename Action>
Written capture(Action action, CaptureFd::Kind outKind = CaptureFd::Kind::file) {
  CaptureFd err(STDERR_FILENO);
  CaptureFd out(STDOUT_FILENO, outKind);
  action();
  out.restore();
  err.restore();
  return {out.lines(), err.lines()};
}

TEST(JSONOutput, EmitTypedWritesOneCompactLineWithTheType) {
  const auto written = capture([] { JSONOutput::emitTyped("status", {{"event", "started"}}); });
  ASSERT_EQ(written.out.size(), 1u);
  const std::string& line = written.out[0];
  EXPECT_TRUE(line == R"({"type":"status","event":"started"})" ||
              line == R"({"event":"started","type":"status"})")
      << line;
  EXPECT_TRUE(written.err.empty());
}

TEST(JSONOutput, EmitTypedReplacesATypeThePayloadAlreadyHad) {
  const auto written = capture([] {
    JSONOutput::emitTyped("x", {{"type", "y"}, {"a", 1}});
    JSONOutput::emitTyped("empty", json());
  });
  ASSERT_EQ(written.out.size(), 2u);
  EXPECT_EQ(json::parse(written.out[0]), json({{"type", "x"}, {"a", 1}}));
  EXPECT_EQ(written.out[1], R"({"type":"empty"})");
}

TEST(JSONOutput, EmitKeepsNonASCIITextAndValueKinds) {
  const json payload = {{"text", "caf\xC3\xA9 \xF0\x9F\x98\x80"},
                        {"n", 3},
                        {"x", 0.5},
                        {"ok", false},
                        {"list", {1, "two", nullptr}},
                        {"nested", {{"inner", true}}}};
  const auto written = capture([&] { JSONOutput::emit(payload); });
  ASSERT_EQ(written.out.size(), 1u);
  EXPECT_NE(written.out[0].find("\"caf\xC3\xA9 \xF0\x9F\x98\x80\""), std::string::npos)
      << written.out[0];
  EXPECT_EQ(std::count(written.out[0].begin(), written.out[0].end(), ' '), 1)
      << "no spaces outside strings";
  EXPECT_EQ(json::parse(written.out[0]), payload);
}

TEST(JSONOutput, EmitErrorHasItsFixedShapeAndEscapesTheMessage) {
  const std::string message = "say \"hi\" to C:\\dir\nnext\tline \x01 done";
  const auto written = capture([&] {
    JSONOutput::emitError("plain");
    JSONOutput::emitError(message);
  });
  ASSERT_EQ(written.out.size(), 2u);
  EXPECT_EQ(written.out[0], R"({"error": "plain"})");
  EXPECT_EQ(written.out[1], R"({"error": "say \"hi\" to C:\\dir\nnext\tline \u0001 done"})");
  EXPECT_EQ(json::parse(written.out[1])["error"], message);
}

TEST(JSONOutput, NonFiniteNumbersAnywhereTakeTheFailureLine) {
  const double inf = std::numeric_limits<double>::infinity();
  const json payloads[] = {
      {{"level", std::numeric_limits<double>::quiet_NaN()}},
      {{"frame", {{"x", 1.0}, {"y", -inf}}}},
      {{"samples", {0.1, 0.2, inf}}},
  };
  for (const auto& payload : payloads) {
    const auto written = capture([&] { JSONOutput::emitTyped("audio", payload); });
    ASSERT_EQ(written.out.size(), 1u);
    EXPECT_EQ(written.out[0], R"({"error":"json_serialization_failed"})");
    ASSERT_EQ(written.err.size(), 1u);
    EXPECT_EQ(written.err[0].rfind(
                  "[" + NolariLogger::component() + "] [ERROR] JSON serialization failed: ", 0),
              0u)
        << written.err[0];
  }
}

TEST(JSONOutput, OnlyDictionariesBecomeLines) {
  const auto written = capture([] {
    JSONOutput::emit(json());
    JSONOutput::emit(json::array({1, 2}));
  });
  ASSERT_EQ(written.out.size(), 2u);
  EXPECT_EQ(written.out[0], "{}");
  EXPECT_EQ(written.out[1], R"({"error":"json_serialization_failed"})");
  EXPECT_EQ(written.err.size(), 1u);
}

TEST(JSONOutput, InvalidUTF8IsRepairedInValuesKeysAndErrors) {
  const auto written = capture([] {
    JSONOutput::emit({{"arg",
                       "bad\xFF"
                       "byte"},
                      {"k\xC3", json::array({"\xED\xA0\x80"})}});
    JSONOutput::emitTyped("t\xE2\x82", {{"ok", 1}});
    JSONOutput::emitError("no such file: \xC0\xAF");
  });
  ASSERT_EQ(written.out.size(), 3u);
  EXPECT_EQ(json::parse(written.out[0]), json({{"arg", "bad" + FFFD + "byte"},
                                               {"k" + FFFD, json::array({FFFD + FFFD + FFFD})}}));
  EXPECT_EQ(json::parse(written.out[1])["type"], "t" + FFFD);
  EXPECT_EQ(written.out[2], "{\"error\": \"no such file: " + FFFD + FFFD + "\"}");
  EXPECT_TRUE(written.err.empty());
}

// Every thread's lines arrive whole and none is lost, however they interleave,
// even when a line is longer than the pipe to the parent can hold at once.
TEST(JSONOutput, LinesFromManyThreadsNeverMix) {
  constexpr int THREADS = 6;
  constexpr int LINES = 40;
  const std::string filler(20000, 'z');
  const auto written = capture(
      [&] {
        std::vector<std::thread> threads;
        threads.reserve(THREADS);
        for (int t = 0; t < THREADS; ++t) {
          threads.emplace_back([&, t] {
            for (int i = 0; i < LINES; ++i) {
              if (i % 3 == 0) {
                JSONOutput::emitError(std::to_string(t) + ":" + std::to_string(i) + filler);
              } else {
                JSONOutput::emitTyped("tick", {{"thread", t}, {"index", i}, {"filler", filler}});
              }
            }
          });
        }
        for (auto& thread : threads) thread.join();
      },
      CaptureFd::Kind::pipe);
  ASSERT_EQ(written.out.size(), static_cast<std::size_t>(THREADS * LINES));
  std::set<std::pair<int, int>> seen;
  for (const auto& line : written.out) {
    const json parsed = json::parse(line, nullptr, false);
    ASSERT_FALSE(parsed.is_discarded()) << line.substr(0, 80);
    if (parsed.contains("error")) {
      const std::string text = parsed["error"];
      const auto colon = text.find(':');
      seen.emplace(std::stoi(text.substr(0, colon)), std::stoi(text.substr(colon + 1)));
      EXPECT_EQ(text.substr(text.size() - filler.size()), filler);
    } else {
      seen.emplace(parsed["thread"].get<int>(), parsed["index"].get<int>());
      EXPECT_EQ(parsed["filler"], filler);
    }
  }
  EXPECT_EQ(seen.size(), static_cast<std::size_t>(THREADS * LINES));
}

// The parent may go away first; writing on must neither crash nor hang.
TEST(JSONOutput, AClosedPipeIsIgnored) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    alarm(10);
    std::signal(SIGPIPE, SIG_IGN);
    int ends[2];
    if (pipe(ends) != 0) _exit(2);
    close(ends[0]);
    dup2(ends[1], STDOUT_FILENO);
    for (int i = 0; i < 100; ++i) {
      JSONOutput::emitTyped("x", {{"i", i}});
      JSONOutput::emitError("gone");
    }
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
}  // namespace nolari

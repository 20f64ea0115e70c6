#include "sondra/RequestLoop.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

using nolari::sondra::FramedLine;
using nolari::sondra::LineFramer;
using nolari::sondra::MAX_LINE_BYTES;
using nolari::sondra::trimBlanks;

namespace {

std::vector<std::string> texts(const std::vector<FramedLine>& lines) {
  std::vector<std::string> out;
  out.reserve(lines.size());
  for (const auto& line : lines) out.push_back(line.overlong ? "<overlong>" : line.text);
  return out;
}

}  // namespace

TEST(SondraFraming, LinesSplitAcrossReadsAndTerminators) {
  LineFramer framer;
  EXPECT_TRUE(framer.feed("{\"id\":").empty());
  EXPECT_EQ(texts(framer.feed("\"1\"}\r\n\n  x\t\nla")),
            (std::vector<std::string>{"{\"id\":\"1\"}", "", "  x\t"}));
  auto rest = framer.finish();
  ASSERT_TRUE(rest);
  EXPECT_EQ(rest->text, "la");
  EXPECT_FALSE(framer.finish());
}

TEST(SondraFraming, OverlongLineIsMarkedAndTheNextOneSurvives) {
  LineFramer framer;
  std::string chunk(1024 * 1024, 'a');
  std::vector<FramedLine> lines;
  for (size_t fed = 0; fed <= MAX_LINE_BYTES; fed += chunk.size()) {
    auto got = framer.feed(chunk);
    lines.insert(lines.end(), got.begin(), got.end());
  }
  auto got = framer.feed("\n{\"id\":\"2\"}\n");
  lines.insert(lines.end(), got.begin(), got.end());
  EXPECT_EQ(texts(lines), (std::vector<std::string>{"<overlong>", "{\"id\":\"2\"}"}));
}

TEST(SondraFraming, OnlyBlanksAndTabsAreTrimmed) {
  EXPECT_EQ(trimBlanks(" \t {} \t "), "{}");
  EXPECT_EQ(trimBlanks(" \t "), "");
  EXPECT_EQ(trimBlanks("\v{}\f"), "\v{}\f");
}

TEST(SondraFraming, LoopServesNonBlankLinesThenTheUnterminatedRest) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::string input = "a\n \t\n\nb\nc";
  ASSERT_EQ(write(fds[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
  close(fds[1]);
  std::vector<std::string> served;
  nolari::sondra::RequestLoop::run(fds[0],
                                   [&](const FramedLine& line) { served.push_back(line.text); });
  close(fds[0]);
  EXPECT_EQ(served, (std::vector<std::string>{"a", "b", "c"}));
}

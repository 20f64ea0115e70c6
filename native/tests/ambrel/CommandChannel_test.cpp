#include "ambrel/agent/CommandChannel.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/CaptureFd.h"

namespace nolari::ambrel {
namespace {

using nlohmann::json;
using Lines = std::vector<std::string>;

Lines frame(CommandFramer& framer, const std::vector<std::string>& reads) {
  Lines lines;
  for (const std::string& bytes : reads) {
    framer.feed(bytes, [&](std::string_view line) { lines.emplace_back(line); });
  }
  return lines;
}

Lines frame(const std::vector<std::string>& reads) {
  CommandFramer framer;
  return frame(framer, reads);
}

TEST(CommandFramer, CutsAtLineFeedsOnlyAndKeepsTheRestUntilItsFeed) {
  EXPECT_EQ(frame({"{\"a\":1}\n{\"b\":2}\n"}), (Lines{"{\"a\":1}", "{\"b\":2}"}));
  EXPECT_EQ(frame({"{\"a\":", "1}\n{\"b\""}), (Lines{"{\"a\":1}"}));
  EXPECT_EQ(frame({"one\rtwo\r\n"}), (Lines{"one\rtwo"}));
  // One byte at a time.
  std::vector<std::string> bytes;
  for (char c : std::string("{\"x\":1}\r\n \n")) bytes.emplace_back(1, c);
  EXPECT_EQ(frame(bytes), (Lines{"{\"x\":1}"}));
}

TEST(CommandFramer, TrimsUnicodeWhiteSpaceAndDropsEmptyAndInvalidLines) {
  EXPECT_EQ(frame({"\t {\"a\":1} \xC2\xA0\xE2\x80\xA8\r\n", "   \n", "\n", "\xFF{\"bad\":1}\n",
                   "{\"c\":3}\n"}),
            (Lines{"{\"a\":1}", "{\"c\":3}"}));
}

TEST(CommandFramer, LineOverTheLimitIsDroppedToItsFeedWithOneLogLine) {
  test::CaptureFd err(STDERR_FILENO);
  CommandFramer framer;
  const std::string chunk(MAX_COMMAND_LINE_BYTES / 4 + 1, 'x');
  Lines lines =
      frame(framer, {"{\"a\":1}\n" + chunk, chunk, chunk, chunk, chunk, "tail\n{\"b\":2}\n"});
  err.restore();
  EXPECT_EQ(lines, (Lines{"{\"a\":1}", "{\"b\":2}"}));
  EXPECT_EQ(err.lines(),
            (Lines{"[Nolari] [WARN] command line longer than 67108864 bytes dropped"}));
  // A line of exactly the limit is kept.
  const std::string atLimit(MAX_COMMAND_LINE_BYTES, ' ');
  EXPECT_EQ(frame(framer, {atLimit.substr(1) + "7\n"}), (Lines{"7"}));
}

TEST(DecodeCommand, TakesOnlyObjectsWithAStringType) {
  for (const char* line : {"[1]", "\"type\"", "5", "{\"kind\":\"x\"}", "{\"type\":5}",
                           "{\"type\":null}", "{\"type\":", "{\"type\":\"a\"} x",
                           "[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[["}) {
    EXPECT_FALSE(decodeCommand(line)) << line;
  }
  EXPECT_FALSE(decodeCommand(std::string("{\"type\":\"a\"}\0{", 14)));
  EXPECT_EQ(decodeCommand(R"({"type":"Dictation_arm","x":[]})"),
            json::parse(R"({"type":"Dictation_arm","x":[]})"));
}

TEST(CommandPayload, MembersOfAnotherTypeCountAsAbsent) {
  const json command = json::parse(
      R"({"s":"text","n":1.5,"i":-3,"b":true,"null":null,"r":{"x":10,"y":20},"bad_r":{"x":"10"},"extra_r":{"x":1,"w":2,"z":[]}})");
  EXPECT_EQ(CommandPayload::string(command, "s"), "text");
  EXPECT_EQ(CommandPayload::string(command, "n"), std::nullopt);
  EXPECT_EQ(CommandPayload::number(command, "n"), 1.5);
  EXPECT_EQ(CommandPayload::number(command, "i"), -3);
  EXPECT_EQ(CommandPayload::number(command, "s"), std::nullopt);
  EXPECT_EQ(CommandPayload::boolean(command, "b"), true);
  EXPECT_EQ(CommandPayload::boolean(command, "null"), std::nullopt);
  EXPECT_EQ(CommandPayload::boolean(command, "missing"), std::nullopt);
  EXPECT_EQ(CommandPayload::rect(command, "r"), (WireRect{10, 20, 0, 0}));
  EXPECT_EQ(CommandPayload::rect(command, "bad_r"), std::nullopt);
  EXPECT_EQ(CommandPayload::rect(command, "extra_r"), std::nullopt);
  EXPECT_EQ(CommandPayload::rect(command, "s"), std::nullopt);
}

}  // namespace
}  // namespace nolari::ambrel

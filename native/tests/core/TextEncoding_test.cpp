#include "base/TextEncoding.h"

#include <gtest/gtest.h>

#include <string>

namespace nolari {
namespace {

const std::string FFFD = "\xEF\xBF\xBD";

struct RepairCase {
  const char* name;
  std::string input;
  std::string expected;
};

// Each maximal ill-formed subsequence becomes exactly one U+FFFD, the way the
// platform's string decoding (and every browser) repairs text.
TEST(TextEncoding, RepairsEachMaximalInvalidSubsequenceWithOneReplacement) {
  const RepairCase cases[] = {
      {"mixed sample",
       "a\xF1\x80\x80\xE1\x80\xC2"
       "b\x80"
       "c\x80\xBF"
       "d",
       "a" + FFFD + FFFD + FFFD + "b" + FFFD + "c" + FFFD + FFFD + "d"},
      {"lone continuation", "\x80", FFFD},
      {"bytes that never start a sequence", "\xC0\xC1\xF5\xFF", FFFD + FFFD + FFFD + FFFD},
      {"overlong slash", "\xC0\xAF", FFFD + FFFD},
      {"overlong three bytes", "\xE0\x80\xAF", FFFD + FFFD + FFFD},
      {"overlong four bytes", "\xF0\x8F\xBF\xBF", FFFD + FFFD + FFFD + FFFD},
      {"encoded surrogate", "\xED\xA0\x80", FFFD + FFFD + FFFD},
      {"past U+10FFFF", "\xF4\x90\x80\x80", FFFD + FFFD + FFFD + FFFD},
      {"truncated before ASCII",
       "\xE2\x82"
       "A",
       FFFD + "A"},
      {"truncated at the end", "ok\xF0\x9F\x98", "ok" + FFFD},
      {"truncated then a new lead", "\xE2\x82\xE2\x82\xAC", FFFD + "\xE2\x82\xAC"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TextEncoding::repairUTF8(c.input), c.expected) << c.name;
    EXPECT_FALSE(TextEncoding::isValidUTF8(c.input)) << c.name;
    EXPECT_TRUE(TextEncoding::isValidUTF8(TextEncoding::repairUTF8(c.input))) << c.name;
  }
}

TEST(TextEncoding, LeavesWellFormedTextAlone) {
  const std::string samples[] = {
      "",
      std::string("nul\0inside", 10),
      "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80",
      "\xED\x9F\xBF",      // U+D7FF, just below the surrogates
      "\xEE\x80\x80",      // U+E000, just above them
      "\xEF\xBF\xBF",      // U+FFFF
      "\xF4\x8F\xBF\xBF",  // U+10FFFF
      "\xC2\x80\xDF\xBF",  // the two-byte range's ends
      "\xEF\xBF\xBD",      // a replacement character already there
  };
  for (const auto& text : samples) {
    EXPECT_TRUE(TextEncoding::isValidUTF8(text)) << text;
    EXPECT_EQ(TextEncoding::repairUTF8(text), text);
  }
}

}  // namespace
}  // namespace nolari

#include "core/ColorParser.h"

#include <gtest/gtest.h>

namespace nolari {
namespace {

Color rgba(int red, int green, int blue, int alpha = 255) {
  return Color{red / 255.0, green / 255.0, blue / 255.0, alpha / 255.0};
}

TEST(ColorParser, ReadsSixAndEightDigitColoursInAnySpelling) {
  const Color expected = rgba(0x34, 0x98, 0xdb);
  EXPECT_EQ(ColorParser::parseHex("#3498db"), expected);
  EXPECT_EQ(ColorParser::parseHex("3498DB"), expected);
  EXPECT_EQ(ColorParser::parseHex(" 3498DB\n"), expected);
  EXPECT_EQ(ColorParser::parseHex("\t#3498db\r\n"), expected);
  EXPECT_EQ(ColorParser::parseHex("\u00a0#3498db\u3000"), expected)
      << "Unicode spaces are trimmed too";

  EXPECT_EQ(ColorParser::parseHex("3498dbcc"), rgba(0x34, 0x98, 0xdb, 0xcc));
  EXPECT_EQ(ColorParser::parseHex("#ffffffff"), rgba(255, 255, 255, 255));
  EXPECT_EQ(ColorParser::parseHex("#00000000"), rgba(0, 0, 0, 0));
}

TEST(ColorParser, RejectsWrongLengths) {
  for (const char* text :
       {"", "#", "fff", "#fff", "#12345", "#1234567", "123456789", "##123456", "# 123456"}) {
    EXPECT_EQ(ColorParser::parseHex(text), std::nullopt) << '"' << text << '"';
  }
}

TEST(ColorParser, ScansLikeTheHexScannerUpToTheFirstNonHexCharacter) {
  // The digits read are taken as the whole number, still laid out by the text's length.
  EXPECT_EQ(ColorParser::parseHex("#12zzzz"), rgba(0, 0, 0x12));
  EXPECT_EQ(ColorParser::parseHex("12zzzzzz"), rgba(0, 0, 0, 0x12));
  EXPECT_EQ(ColorParser::parseHex("0x1234"), rgba(0, 0x12, 0x34));
  EXPECT_EQ(ColorParser::parseHex("0X123456"), rgba(0, 0x12, 0x34, 0x56));
  EXPECT_EQ(ColorParser::parseHex("0xzzzz"), rgba(0, 0, 0)) << "the 0 of a bare prefix is a digit";
  // Length counts characters, not bytes.
  EXPECT_EQ(ColorParser::parseHex("12345\u00e9"), rgba(0x01, 0x23, 0x45));

  for (const char* text : {"zzzzzz", "#gggggg", "xx1234", "-12345", "\xff\xff\xff\xff\xff\xff"}) {
    EXPECT_EQ(ColorParser::parseHex(text), std::nullopt) << '"' << text << '"';
  }
}

}  // namespace
}  // namespace nolari

#include "base/JSONInput.h"

#include <gtest/gtest.h>

#include <string>

#include <nlohmann/json.hpp>

namespace nolari {
namespace {

using nlohmann::json;

std::string nested(int levels, const std::string& inner = "") {
  return std::string(static_cast<std::size_t>(levels), '[') + inner +
         std::string(static_cast<std::size_t>(levels), ']');
}

std::string errorOf(const std::string& text) {
  std::string error;
  EXPECT_FALSE(JSONInput::parse(text, error)) << text.substr(0, 80);
  return error;
}

TEST(JSONInput, TheDepthLimitCountsOpenContainersOnly) {
  ASSERT_TRUE(JSONInput::parse(nested(JSONInput::MAX_DEPTH)));
  EXPECT_EQ(errorOf(nested(JSONInput::MAX_DEPTH + 1)), "nested deeper than 256 levels");
  // Objects count as arrays do, and closed containers give their level back.
  std::string objects;
  for (int i = 0; i < JSONInput::MAX_DEPTH; ++i) objects += "{\"k\":";
  EXPECT_EQ(errorOf(objects + "[]" + std::string(JSONInput::MAX_DEPTH, '}')),
            "nested deeper than 256 levels");
  std::string siblings = "[";
  for (int i = 0; i < 1000; ++i) siblings += nested(JSONInput::MAX_DEPTH - 1) + ",";
  siblings += "0]";
  EXPECT_TRUE(JSONInput::parse(siblings));
  // Brackets inside strings, escaped quotes included, are text.
  const auto text = JSONInput::parse(json{{"s", nested(1000, "\\\"")}}.dump());
  ASSERT_TRUE(text);
  EXPECT_EQ((*text)["s"], nested(1000, "\\\""));
}

TEST(JSONInput, ErrorsSayWhatCameFirst) {
  // The text goes wrong before it goes too deep: the syntax error is reported.
  EXPECT_EQ(errorOf("[1 2" + nested(1000)),
            "syntax error while parsing array - unexpected number literal; expected ']'");
  // Too deep before anything else is wrong: the depth, however the text ends.
  EXPECT_EQ(errorOf(nested(300) + "x"), "nested deeper than 256 levels");
  EXPECT_EQ(errorOf(std::string(1 << 20, '[')), "nested deeper than 256 levels");
  EXPECT_EQ(errorOf(std::string("{\"a\":1}\0", 8)), "a NUL byte in the text");
  EXPECT_EQ(errorOf("{\"a\":1} x"),
            "syntax error while parsing value - unexpected 'x'; expected end of input");
  EXPECT_EQ(errorOf(""),
            "syntax error while parsing value - unexpected end of input; expected "
            "'[', '{', or a literal");
}

TEST(JSONInput, DocumentsComeOutAsTheLibraryReadsThem) {
  const std::string text = R"({"z":[1,-2,3.5,"t",true,null,{}],"a":{"b":[[]]},"z2":1,"a":2})";
  EXPECT_EQ(JSONInput::parse(text), json::parse(text));
  const auto ordered = JSONInput::parse<nlohmann::ordered_json>(R"({"z":1,"a":2})");
  ASSERT_TRUE(ordered);
  EXPECT_EQ(ordered->dump(), R"({"z":1,"a":2})");
  EXPECT_EQ(JSONInput::parse("  7 "), json(7));
}

}  // namespace
}  // namespace nolari

#include "support/JsonMatch.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

// Every transcript check goes through the matcher: one that admits too much
// would let all of them pass.

using nlohmann::json;
using nolari::test::matches;

TEST(JsonMatch, StarsAdmitAnyValueOrOtherMembersAndAbsentMembersMustBeMissing) {
  const json actual = json::parse(R"({"id":"1","time":12,"list":[1,{"a":true}],"extra":null})");
  EXPECT_TRUE(matches(actual, actual));
  EXPECT_TRUE(matches(json::parse(R"({"id":"1","time":"*","list":[1,"*"],"extra":null})"), actual));
  EXPECT_TRUE(matches(json::parse(R"({"id":"1","*":"*","gone":"<absent>"})"), actual));

  EXPECT_FALSE(matches(json::parse(R"({"id":"1","time":12,"list":[1,{"a":true}]})"), actual));
  EXPECT_FALSE(matches(json::parse(R"({"id":"1","*":"*","time":"<absent>"})"), actual));
  EXPECT_FALSE(matches(json::parse(R"({"id":1,"*":"*"})"), actual));
  EXPECT_FALSE(matches(json::parse(R"({"list":[1],"*":"*"})"), actual));
  EXPECT_FALSE(matches(json::parse(R"({"list":[1,{"a":true,"*":"x"}],"*":"*"})"), actual));
  EXPECT_FALSE(matches(json::parse(R"({"*":"*"})"), json::parse("[1]")));
  EXPECT_FALSE(matches(json::parse(R"({"id":"1"})"), json::parse("null")));
}

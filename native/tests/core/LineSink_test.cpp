#include "base/LineSink.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include <nlohmann/json.hpp>

#include "support/RecordingSink.h"

namespace nolari {
namespace {

using nlohmann::json;

// A sink writes exactly the lines the standard output facility writes, so a
// program object can be given either without a byte changing on the wire.
TEST(LineSink, FormatsLinesAsTheOutputFacilityDoes) {
  test::RecordingSink sink;
  sink.emit(json{{"b", 1}, {"a", "x"}});
  sink.emitTyped("status", json{{"event", "started"}});
  sink.emitTyped("ping", json());
  sink.emitError("bad \"line\"");
  sink.emit(json());
  sink.emit(json{{"n", std::nan("")}});
  sink.emit(json{{"t", std::string("a\xFFz")}});
  const auto lines = sink.lines();
  ASSERT_EQ(lines.size(), 7U);
  EXPECT_EQ(lines[0], "{\"a\":\"x\",\"b\":1}\n");
  EXPECT_EQ(lines[1], "{\"event\":\"started\",\"type\":\"status\"}\n");
  EXPECT_EQ(lines[2], "{\"type\":\"ping\"}\n");
  EXPECT_EQ(lines[3], "{\"error\": \"bad \\\"line\\\"\"}\n");
  EXPECT_EQ(lines[4], "{}\n");
  EXPECT_EQ(lines[5], "{\"error\":\"json_serialization_failed\"}\n");
  EXPECT_EQ(lines[6], "{\"t\":\"a\xEF\xBF\xBDz\"}\n");
  EXPECT_EQ(sink.objects()[1]["event"], "started");
}

}  // namespace
}  // namespace nolari

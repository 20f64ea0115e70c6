#pragma once

#include <nlohmann/json.hpp>

// Transcript comparison: equal as JSON, where an expected "*" stands for any
// value (times, pids and other values a run cannot know in advance).

namespace nolari::test {

bool matches(const nlohmann::json& expected, const nlohmann::json& actual);

}  // namespace nolari::test

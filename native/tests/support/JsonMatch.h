#pragma once

#include <nlohmann/json.hpp>

// Transcript comparison: equal as JSON, where an expected "*" stands for any
// value (times, pids and other values a run cannot know in advance). An
// expected object matches only objects with the same members, unless it has
// the member "*": "*", which admits members it does not name; a member whose
// expected value is "<absent>" must not be there.

namespace nolari::test {

bool matches(const nlohmann::json& expected, const nlohmann::json& actual);

}  // namespace nolari::test

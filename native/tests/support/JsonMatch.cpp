#include "support/JsonMatch.h"

namespace nolari::test {

bool matches(const nlohmann::json& expected, const nlohmann::json& actual) {
  if (expected == "*") return true;
  if (expected.is_object()) {
    if (!actual.is_object() || actual.size() != expected.size()) return false;
    for (auto it = expected.begin(); it != expected.end(); ++it) {
      if (!actual.contains(it.key()) || !matches(it.value(), actual[it.key()])) return false;
    }
    return true;
  }
  if (expected.is_array()) {
    if (!actual.is_array() || actual.size() != expected.size()) return false;
    for (std::size_t i = 0; i < expected.size(); ++i) {
      if (!matches(expected[i], actual[i])) return false;
    }
    return true;
  }
  return expected == actual;
}

}  // namespace nolari::test

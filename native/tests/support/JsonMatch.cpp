#include "support/JsonMatch.h"

namespace nolari::test {

bool matches(const nlohmann::json& expected, const nlohmann::json& actual) {
  if (expected == "*") return true;
  if (expected.is_object()) {
    if (!actual.is_object()) return false;
    const bool open = expected.contains("*") && expected["*"] == "*";
    std::size_t named = 0;
    for (auto it = expected.begin(); it != expected.end(); ++it) {
      if (open && it.key() == "*") continue;
      if (it.value() == "<absent>") {
        if (actual.contains(it.key())) return false;
        continue;
      }
      if (!actual.contains(it.key()) || !matches(it.value(), actual[it.key()])) return false;
      ++named;
    }
    return open || actual.size() == named;
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

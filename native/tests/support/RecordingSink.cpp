#include "support/RecordingSink.h"

#include <utility>

namespace nolari::test {

void RecordingSink::writeLine(std::string line) {
  const std::lock_guard lock(mutex_);
  lines_.push_back(std::move(line));
}

std::vector<std::string> RecordingSink::lines() const {
  const std::lock_guard lock(mutex_);
  return lines_;
}

std::vector<nlohmann::json> RecordingSink::objects() const {
  std::vector<nlohmann::json> parsed;
  for (const auto& line : lines()) {
    auto object = nlohmann::json::parse(line, nullptr, false);
    parsed.push_back(object.is_discarded() ? nlohmann::json(line) : std::move(object));
  }
  return parsed;
}

void RecordingSink::clear() {
  const std::lock_guard lock(mutex_);
  lines_.clear();
}

}  // namespace nolari::test

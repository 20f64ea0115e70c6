#pragma once

#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/LineSink.h"

// A line sink that keeps what it was given, for tests to read back in order.

namespace nolari::test {

class RecordingSink final : public LineSink {
 public:
  void writeLine(std::string line) override;

  // The lines as written, newlines included.
  std::vector<std::string> lines() const;
  // Each line parsed; a line that is not JSON reads as a string value.
  std::vector<nlohmann::json> objects() const;
  void clear();

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

}  // namespace nolari::test

#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

// A scene file on disk: read once at start, and rewritten whole, in one step,
// each time a value is written through the accessibility interface, so the
// file keeps its members in the order they were written.

namespace nolari::platform {

class SimSceneFile {
 public:
  // Reads the file's document. On failure `error` names the file and says
  // what is wrong with it.
  static std::optional<SimSceneFile> read(const std::string& path, nlohmann::json& document,
                                          std::string& error);

  // Stores `value` as `attribute` of the element at `pointer` (a JSON pointer
  // into the document) and saves the file; on failure nothing changes.
  bool save(const std::string& pointer, std::string_view attribute, nlohmann::ordered_json value,
            std::string& error);

 private:
  SimSceneFile(std::string path, nlohmann::ordered_json document)
      : path_(std::move(path)), document_(std::move(document)) {}

  std::string path_;
  nlohmann::ordered_json document_;
};

}  // namespace nolari::platform

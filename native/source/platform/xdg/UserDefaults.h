#pragma once

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/Windowing.h"

// The user's settings as one JSON object in a file of the user's configuration
// directory. Every read asks the file, so that a setting written by another
// process, or by hand, counts at once. A file that cannot be read or is not a
// JSON object reads as empty and is replaced by the next write; a write that
// fails is logged and leaves the old file as it was.

namespace nolari::platform {

class FileUserDefaults : public UserDefaults {
 public:
  explicit FileUserDefaults(std::string path) : path_(std::move(path)) {}

  // "nolari/defaults.json" under $XDG_CONFIG_HOME, else under $HOME/.config;
  // "" when neither names an absolute directory.
  static std::string pathIn(const std::string& configHome, const std::string& home);

  const std::string& path() const { return path_; }

  std::optional<bool> boolForKey(const std::string& key) override;
  void setBool(const std::string& key, bool value) override;

 private:
  nlohmann::json read() const;
  void write(const nlohmann::json& settings) const;

  std::string path_;
};

}  // namespace nolari::platform

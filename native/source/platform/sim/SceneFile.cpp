#include "platform/sim/SceneFile.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/FileInput.h"
#include "base/JSONInput.h"

namespace nolari::platform {

namespace {

// Far larger than any scene a test writes, small enough to hold in memory.
constexpr std::size_t MAX_SCENE_BYTES = 64u << 20;

// Replaces the file in one step: a reader sees the old scene or the new one.
bool writeFileAtomically(const std::string& path, const std::string& text, std::string& error) {
  namespace fs = std::filesystem;
  const fs::path target(path);
  std::string tempName = ".";
  tempName += target.filename().string();
  tempName += ".tmp.";
  tempName += std::to_string(::getpid());
  const fs::path temp = target.parent_path() / tempName;
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) {
      error = temp.string() + ": " + std::strerror(errno);
      return false;
    }
    out << text;
    out.flush();
    if (!out) {
      error = temp.string() + ": write failed";
      std::error_code ignored;
      fs::remove(temp, ignored);
      return false;
    }
  }
  std::error_code ec;
  fs::rename(temp, target, ec);
  if (ec) {
    error = path + ": " + ec.message();
    fs::remove(temp, ec);
    return false;
  }
  return true;
}

}  // namespace

std::optional<SimSceneFile> SimSceneFile::read(const std::string& path, nlohmann::json& document,
                                               std::string& error) {
  std::string reason;
  auto text = FileInput::readRegularFile(path, MAX_SCENE_BYTES, reason);
  if (!text) {
    error = "scene file " + path;
    error += reason.starts_with("is ") ? ": " + reason : ": cannot be read (" + reason + ")";
    return std::nullopt;
  }
  auto parsed = JSONInput::parse(*text, reason);
  auto ordered = parsed ? JSONInput::parse<nlohmann::ordered_json>(*text, reason) : std::nullopt;
  if (!ordered) {
    error = "scene file " + path + ": not valid JSON (" + reason + ")";
    return std::nullopt;
  }
  document = std::move(*parsed);
  return SimSceneFile(path, std::move(*ordered));
}

bool SimSceneFile::save(const std::string& pointer, std::string_view attribute,
                        nlohmann::ordered_json value, std::string& error) {
  using Pointer = nlohmann::ordered_json::json_pointer;
  nlohmann::ordered_json updated = document_;
  updated[Pointer(pointer)][std::string(attribute)] = std::move(value);
  const std::string text =
      updated.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  if (!writeFileAtomically(path_, text, error)) return false;
  document_ = std::move(updated);
  return true;
}

}  // namespace nolari::platform

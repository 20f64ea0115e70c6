#include "platform/sim/SceneFile.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace nolari::platform {

namespace {

std::string parseErrorText(const std::string& what) {
  // Drops the library's "[json.exception.parse_error.101] " prefix.
  auto end = what.find("] ");
  return end == std::string::npos ? what : what.substr(end + 2);
}

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
  namespace fs = std::filesystem;
  std::error_code ec;
  if (fs::is_directory(path, ec)) {
    error = "scene file " + path + ": is a directory";
    return std::nullopt;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "scene file " + path + ": cannot be read (" + std::strerror(errno) + ")";
    return std::nullopt;
  }
  std::stringstream text;
  text << in.rdbuf();
  try {
    document = nlohmann::json::parse(text.str());
  } catch (const nlohmann::json::exception& e) {
    error = "scene file " + path + ": not valid JSON (" + parseErrorText(e.what()) + ")";
    return std::nullopt;
  }
  return SimSceneFile(path, nlohmann::ordered_json::parse(text.str()));
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

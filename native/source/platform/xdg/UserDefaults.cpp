#include "platform/xdg/UserDefaults.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "base/FileInput.h"
#include "base/JSONInput.h"
#include "base/LineWriter.h"
#include "base/NolariLogger.h"

namespace nolari::platform {

namespace {

// Far more than a few settings take; a larger file is not ours.
constexpr std::size_t MAX_FILE_BYTES = 1u << 20;

bool isAbsolute(const std::string& path) { return !path.empty() && path.front() == '/'; }

void warn(std::string_view what, const std::string& path, std::string_view why) {
  std::string message(what);
  message += ' ';
  message += path;
  message += " (";
  message += why;
  message += ')';
  NolariLogger::warn(message);
}

}  // namespace

std::string FileUserDefaults::pathIn(const std::string& configHome, const std::string& home) {
  std::string directory;
  if (isAbsolute(configHome)) {
    directory = configHome;
  } else if (isAbsolute(home)) {
    directory = home;
    directory += "/.config";
  } else {
    return {};
  }
  directory += "/nolari/defaults.json";
  return directory;
}

std::optional<bool> FileUserDefaults::boolForKey(const std::string& key) {
  const nlohmann::json settings = read();
  auto found = settings.find(key);
  if (found == settings.end() || !found->is_boolean()) return std::nullopt;
  return found->get<bool>();
}

void FileUserDefaults::setBool(const std::string& key, bool value) {
  nlohmann::json settings = read();
  settings[key] = value;
  write(settings);
}

nlohmann::json FileUserDefaults::read() const {
  if (path_.empty()) return nlohmann::json::object();
  std::string error;
  auto text = FileInput::readRegularFile(path_, MAX_FILE_BYTES, error);
  if (!text) {
    // Nothing written yet is the ordinary case.
    if (error != std::strerror(ENOENT)) warn("cannot read the settings in", path_, error);
    return nlohmann::json::object();
  }
  auto settings = JSONInput::parse(*text, error);
  if (!settings || !settings->is_object()) {
    warn("ignoring the settings in", path_, settings ? "not a JSON object" : error);
    return nlohmann::json::object();
  }
  return std::move(*settings);
}

// Written to a new file beside the old one and renamed over it, so that a
// crash or a full disk never leaves half a file; whatever stood at the path
// (an unreadable file, a FIFO) is replaced.
void FileUserDefaults::write(const nlohmann::json& settings) const {
  if (path_.empty()) {
    NolariLogger::warn("cannot keep a setting: neither XDG_CONFIG_HOME nor HOME names a directory");
    return;
  }
  const std::filesystem::path path(path_);
  std::error_code created;
  std::filesystem::create_directories(path.parent_path(), created);
  if (created) {
    warn("cannot create the directory of", path_, created.message());
    return;
  }
  std::string temporary = path_;
  temporary += ".XXXXXX";
  const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) {
    warn("cannot write the settings to", path_, std::strerror(errno));
    return;
  }
  std::string text = settings.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
  text += '\n';
  std::string reason;
  if (!LineWriter::writeAll(fd, text) || ::fsync(fd) != 0) reason = std::strerror(errno);
  if (::close(fd) != 0 && reason.empty()) reason = std::strerror(errno);
  if (reason.empty() && ::rename(temporary.c_str(), path_.c_str()) != 0) {
    reason = std::strerror(errno);
  }
  if (!reason.empty()) {
    warn("cannot write the settings to", path_, reason);
    ::unlink(temporary.c_str());
  }
}

}  // namespace nolari::platform

#include "base/NolariLogger.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <memory>

#include "base/LineWriter.h"
#include "base/TextEncoding.h"

namespace nolari::NolariLogger {

namespace {

std::string& componentSetting() {
  static std::string name = "Nolari";
  return name;
}

bool logToFileSetting = false;

std::atomic<LineSink*> standardErrorSink{nullptr};

std::string utcTimestamp() {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm parts{};
  gmtime_r(&now, &parts);
  char text[32];
  const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return std::string(text, length);
}

// Queried at every write: the parent chooses where the file lands through the
// working directory it gives the child.
std::string logsDirectory() {
  const std::unique_ptr<char, decltype(&std::free)> cwd(::getcwd(nullptr, 0), &std::free);
  if (!cwd) return {};
  return std::string(cwd.get()) + "/logs";
}

// Only to a regular file: a FIFO put in the log's place would block the
// opener until a reader came, or every write once its buffer is full. The
// line is then dropped, as for any log that cannot be written.
bool appendTo(const std::string& path, std::string_view line) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return errno == ENXIO;
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(fd);
    return true;
  }
  // One write per line: appends from other threads and processes never land
  // inside it.
  LineWriter::writeAll(fd, line);
  ::close(fd);
  return true;
}

// A fresh file in `directory` holding just `line`, or an empty string.
std::string writeTemporaryFile(const std::string& directory, std::string_view line) {
  static std::atomic<unsigned> counter{0};
  // A name left behind by an earlier process with the same id is skipped.
  for (int attempt = 0; attempt < 16; ++attempt) {
    std::string path =
        directory + "/.nolari.log." + std::to_string(::getpid()) + "." + std::to_string(counter++);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return {};
    }
    const bool written = LineWriter::writeAll(fd, line);
    ::close(fd);
    if (written) return path;
    ::unlink(path.c_str());
    return {};
  }
  return {};
}

// A missing file is created holding the line alone, and appears complete or
// not at all. Velkit and Sondra may create it at the same moment from separate
// processes: linking the finished temporary file into place fails for the
// loser instead of replacing the winner's file, and the loser then appends.
void createWith(const std::string& directory, const std::string& path, std::string_view line) {
  const std::string temporary = writeTemporaryFile(directory, line);
  if (temporary.empty()) return;
  if (::link(temporary.c_str(), path.c_str()) != 0) {
    if (errno == EEXIST) {
      appendTo(path, line);
    } else {
      // A file system without hard links: create and append in one step.
      const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
      if (fd >= 0) {
        LineWriter::writeAll(fd, line);
        ::close(fd);
      }
    }
  }
  ::unlink(temporary.c_str());
}

// Every failure here is silent: the standard error line is already out.
void appendToLogFile(const std::string& logLine) {
  const std::string directory = logsDirectory();
  if (directory.empty()) return;
  const std::string path = directory + "/nolari.log";
  // Appended piece by piece: GCC 12 at -O3 misreads a chain of operator+ on a
  // literal as an overlapping copy (-Wrestrict).
  std::string line;
  line.reserve(logLine.size() + 32);
  line += '[';
  line += utcTimestamp();
  line += "] ";
  line += logLine;
  if (appendTo(path, line)) return;
  // An existing file that cannot be opened is left alone; the "logs"
  // directory is never created.
  if (errno != ENOENT) return;
  createWith(directory, path, line);
}

void log(std::string_view level, std::string_view message) {
  std::string line = "[" + componentSetting() + "] [";
  line += level;
  line += "] ";
  line += TextEncoding::repairUTF8(message);
  line += '\n';
  if (LineSink* sink = standardErrorSink.load()) {
    sink->writeLine(line);
  } else {
    LineWriter::writeToStandardError(line);
  }
  if (logToFileSetting) appendToLogFile(line);
}

}  // namespace

void setComponent(std::string_view component) {
  componentSetting() = TextEncoding::repairUTF8(component);
}

const std::string& component() { return componentSetting(); }

void setStandardErrorSink(LineSink* sink) { standardErrorSink.store(sink); }

void setLogToFile(bool enabled) { logToFileSetting = enabled; }

bool logToFile() { return logToFileSetting; }

void debug(std::string_view message) { log("DEBUG", message); }

void info(std::string_view message) { log("INFO", message); }

void warn(std::string_view message) { log("WARN", message); }

void error(std::string_view message) { log("ERROR", message); }

}  // namespace nolari::NolariLogger

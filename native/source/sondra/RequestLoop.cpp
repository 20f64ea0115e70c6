#include "sondra/RequestLoop.h"

#include <unistd.h>

#include <cerrno>

namespace nolari::sondra {

namespace {

constexpr std::size_t READ_CHUNK = 64 * 1024;

FramedLine take(std::string& partial, bool& overlong) {
  if (!partial.empty() && partial.back() == '\r') partial.pop_back();
  FramedLine line{std::move(partial), overlong};
  if (line.overlong) line.text.clear();
  partial.clear();
  overlong = false;
  return line;
}

}  // namespace

std::vector<FramedLine> LineFramer::feed(std::string_view bytes) {
  std::vector<FramedLine> lines;
  while (!bytes.empty()) {
    std::size_t feedAt = bytes.find('\n');
    std::string_view piece = bytes.substr(0, feedAt);
    if (!overlong_) {
      if (partial_.size() + piece.size() > MAX_LINE_BYTES) {
        overlong_ = true;
        partial_.clear();
        partial_.shrink_to_fit();
      } else {
        partial_.append(piece);
      }
    }
    if (feedAt == std::string_view::npos) break;
    lines.push_back(take(partial_, overlong_));
    bytes.remove_prefix(feedAt + 1);
  }
  return lines;
}

std::optional<FramedLine> LineFramer::finish() {
  if (partial_.empty() && !overlong_) return std::nullopt;
  return take(partial_, overlong_);
}

std::string_view trimBlanks(std::string_view line) {
  std::size_t first = line.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  std::size_t last = line.find_last_not_of(" \t");
  return line.substr(first, last - first + 1);
}

namespace RequestLoop {

void run(int fd, const std::function<void(const FramedLine&)>& serve) {
  LineFramer framer;
  auto serveLine = [&](const FramedLine& line) {
    if (!line.overlong && trimBlanks(line.text).empty()) return;
    serve(line);
  };
  std::string buffer(READ_CHUNK, '\0');
  for (;;) {
    ssize_t got = ::read(fd, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    for (const FramedLine& line :
         framer.feed(std::string_view(buffer.data(), static_cast<std::size_t>(got)))) {
      serveLine(line);
    }
  }
  if (auto rest = framer.finish()) serveLine(*rest);
}

}  // namespace RequestLoop

}  // namespace nolari::sondra

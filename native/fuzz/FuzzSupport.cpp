#include "FuzzSupport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>

#include "support/TempDir.h"

namespace nolari::fuzz {

const std::string& workDirectory() {
  static const test::TempDir directory;
  return directory.path();
}

void writeFile(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.flush();
  if (!out) {
    std::fprintf(stderr, "fuzz: cannot write %s\n", path.c_str());
    std::abort();
  }
}

std::string testScene(const std::string& name) {
  std::string path = NOLARI_SCENES_DIR;
  path += '/';
  path += name;
  path += ".json";
  std::ifstream in(path, std::ios::binary);
  std::string scene((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in && !in.eof()) {
    std::fprintf(stderr, "fuzz: cannot read %s\n", path.c_str());
    std::abort();
  }
  return scene;
}

std::vector<std::string_view> split(std::string_view bytes, char separator) {
  std::vector<std::string_view> pieces;
  if (bytes.empty()) return pieces;
  for (;;) {
    const std::size_t at = bytes.find(separator);
    pieces.push_back(bytes.substr(0, at));
    if (at == std::string_view::npos) return pieces;
    bytes.remove_prefix(at + 1);
  }
}

std::vector<std::string_view> unevenChunks(std::string_view bytes) {
  std::vector<std::string_view> chunks;
  for (std::size_t size = 1; !bytes.empty(); size = size % 61 + 1) {
    chunks.push_back(bytes.substr(0, size));
    bytes.remove_prefix(std::min(size, bytes.size()));
  }
  return chunks;
}

platform::VirtualRunLoop& connectMailCompose(platform::Platform& desktop) {
  static const std::string scene = [] {
    std::string path = workDirectory() + "/mail_compose.json";
    writeFile(path, testScene("mail_compose"));
    return path;
  }();
  auto owned = std::make_unique<platform::VirtualRunLoop>();
  platform::VirtualRunLoop& loop = *owned;
  desktop.runLoop = std::move(owned);
  std::string error;
  if (!platform::connectPlatform(desktop, {.desktop = true, .windows = true},
                                 {.platform = "sim", .simScene = scene}, error)) {
    std::abort();
  }
  return loop;
}

}  // namespace nolari::fuzz

// Velkit's command line on the simulated desktop. The input is NUL-separated:
// the name of a test scene, then the arguments, which go through the same
// repair and the same cut to two that velkit's main applies.

#include <cstdlib>
#include <map>
#include <memory>

#include "FuzzSupport.h"
#include "base/LineSink.h"
#include "base/TextEncoding.h"
#include "core/AXReadCache.h"
#include "platform/Platform.h"
#include "velkit/VelkitCommands.h"

namespace {

using namespace nolari;

const std::string& scenePath() {
  static const std::string path = fuzz::workDirectory() + "/scene.json";
  return path;
}

// As velkit's main connects, on the scene file written for this run.
bool connect(platform::Platform& desktop, std::string& error) {
  if (!platform::connectPlatform(desktop, {.desktop = true},
                                 {.platform = "sim", .simScene = scenePath()}, error)) {
    return false;
  }
  desktop.accessibility = std::make_unique<AXReadCache>(std::move(desktop.accessibility));
  return true;
}

const std::map<std::string, std::string, std::less<>>& scenes() {
  static const auto all = [] {
    std::map<std::string, std::string, std::less<>> loaded;
    for (const char* name :
         {"app_without_windows", "browser_page", "mail_compose", "mail_compose_untrusted",
          "nested_groups", "no_frontmost", "odd_attribute_types", "password_field",
          "static_text_focused", "write_refused"}) {
      loaded[name] = fuzz::testScene(name);
    }
    return loaded;
  }();
  return all;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto pieces = fuzz::split(fuzz::text(data, size), '\0');
  if (pieces.empty()) return 0;
  auto scene = scenes().find(pieces.front());
  if (scene == scenes().end()) scene = scenes().find("mail_compose");
  // Each run starts from the checked-in scene: a write saves into the copy.
  fuzz::writeFile(scenePath(), scene->second);

  std::vector<std::string> args;
  for (std::size_t i = 1; i < pieces.size() && i <= 2; ++i) {
    args.push_back(TextEncoding::repairUTF8(pieces[i]));
  }
  StandardOutputSink output;
  Velkit::run(args, connect, output);
  return 0;
}

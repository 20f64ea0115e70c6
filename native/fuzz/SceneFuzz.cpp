// A scene file as the programs take it: loaded through the platform from a
// file, its element trees walked through the accessibility interface, velkit's
// reading and writing run on it. A scene that took a written value must load
// again.

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>

#include "FuzzSupport.h"
#include "base/LineSink.h"
#include "core/AXReadCache.h"
#include "platform/Platform.h"
#include "platform/sim/Desktop.h"
#include "platform/sim/Workspace.h"
#include "support/VirtualRunLoop.h"
#include "velkit/VelkitCommands.h"

namespace {

using namespace nolari;
using platform::Accessibility;
using platform::AXUIElement;
using platform::AXValue;

// Explicit "AXChildren" answers can make any graph, so the walk is bounded.
constexpr int MAX_VISITS = 200;

const char* const ATTRIBUTES[] = {"AXRole",
                                  "AXSubrole",
                                  "AXTitle",
                                  "AXValue",
                                  "AXDescription",
                                  "AXParent",
                                  "AXChildren",
                                  "AXWindows",
                                  "AXFocusedUIElement",
                                  "AXFocusedWindow",
                                  "AXMainWindow",
                                  "AXWindow",
                                  "AXPosition",
                                  "AXSize",
                                  "AXFrame",
                                  "AXSelectedText",
                                  "AXSelectedTextRange",
                                  "AXNumberOfCharacters",
                                  "AXURL",
                                  "AXFocused"};

void visit(Accessibility& ax, const AXUIElement& element, int& visits) {
  if (++visits > MAX_VISITS) return;
  for (const char* attribute : ATTRIBUTES) {
    AXValue value;
    ax.copyAttributeValue(element, attribute, value);
    bool settable = false;
    ax.isAttributeSettable(element, attribute, settable);
  }
  AXValue bounds;
  ax.copyParameterizedAttributeValue(element, "AXBoundsForRange", platform::TextRange{0, 1},
                                     bounds);
  AXValue position;
  if (ax.copyAttributeValue(element, "AXPosition", position) == platform::AXErrorCode::success) {
    if (const auto* at = position.get<platform::Point>()) {
      AXUIElement found;
      ax.copyElementAtPosition(ax.createSystemWide(), static_cast<float>(at->x),
                               static_cast<float>(at->y), found);
    }
  }
  for (const char* list : {"AXWindows", "AXChildren"}) {
    AXValue children;
    if (ax.copyAttributeValue(element, list, children) != platform::AXErrorCode::success) continue;
    if (const auto* items = children.get<platform::AXArray>()) {
      for (const AXValue& item : *items) {
        if (const auto* child = item.get<AXUIElement>()) visit(ax, *child, visits);
      }
    }
  }
}

std::unique_ptr<platform::Platform> connect(const std::string& scene) {
  auto desktop = std::make_unique<platform::Platform>();
  desktop->runLoop = std::make_unique<platform::VirtualRunLoop>();
  std::string error;
  if (!platform::connectPlatform(*desktop, {.desktop = true},
                                 {.platform = "sim", .simScene = scene}, error)) {
    return nullptr;
  }
  return desktop;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string scene = fuzz::workDirectory() + "/scene.json";
  fuzz::writeFile(scene, fuzz::text(data, size));
  auto desktop = connect(scene);
  if (!desktop) return 0;
  Accessibility& ax = *desktop->accessibility;

  const auto pids = static_cast<platform::SimWorkspace&>(*desktop->workspace)
                        .desktop()
                        ->withState([](platform::SimDesktop::State& state) {
                          std::set<std::int32_t> all;
                          for (const auto& app : state.model.applications) all.insert(app.info.pid);
                          return all;
                        });
  int visits = 0;
  visit(ax, ax.createSystemWide(), visits);
  for (std::int32_t pid : pids) visit(ax, ax.createApplication(pid), visits);

  // Velkit's commands, through the read cache its main puts in front.
  desktop->accessibility = std::make_unique<AXReadCache>(std::move(desktop->accessibility));
  StandardOutputSink output;
  Velkit::captureSelection(output, *desktop->accessibility, *desktop->workspace);
  Velkit::writeText(output, *desktop->accessibility, *desktop->workspace, "fuzz");
  desktop.reset();

  if (!connect(scene)) {
    std::fprintf(stderr, "fuzz: a scene no longer loads after a value was written to it\n");
    std::abort();
  }
  return 0;
}

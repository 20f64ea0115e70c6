#include "tarnet/FocusEmitter.h"

#include <chrono>
#include <map>
#include <vector>

#include "core/AXHelpers.h"
#include "core/UnicodeText.h"

namespace nolari::FocusEmitter {

namespace {

using nlohmann::json;

struct Candidate {
  Rect frame;
  int depth;
  std::string role;
};

double area(const Rect& rect) { return rect.size.width * rect.size.height; }

std::string applicationName(Workspace& workspace, std::int32_t pid) {
  auto app = workspace.runningApplication(pid);
  if (!app || !app->localizedName) return "Unknown";
  return *app->localizedName;
}

double secondsSince1970() {
  using namespace std::chrono;
  return duration<double>(system_clock::now().time_since_epoch()).count();
}

json wireRect(const Rect& rect) {
  return {
      {"x", rect.origin.x}, {"y", rect.origin.y}, {"w", rect.size.width}, {"h", rect.size.height}};
}

}  // namespace

std::string roleCategory(std::string_view role) {
  static const std::map<std::string, std::string, std::less<>> categories = {
      {"AXTextField", "text_input"},
      {"AXTextArea", "text_input"},
      {"AXSearchField", "text_input"},
      {"AXComboBox", "text_input"},
      {"AXButton", "button"},
      {"AXLink", "link"},
      {"AXCheckBox", "checkbox"},
      {"AXRadioButton", "radio"},
      {"AXPopUpButton", "popup"},
      {"AXSlider", "slider"},
      {"AXIncrementor", "stepper"},
      {"AXStaticText", "static_text"},
      {"AXImage", "image"},
      {"AXMenuItem", "menu_item"},
      {"AXMenuBarItem", "menu_item"},
      {"AXTabGroup", "tab"},
      {"AXTabButton", "tab"},
      {"AXTable", "table"},
      {"AXRow", "table"},
      {"AXColumn", "table"},
      {"AXList", "list"},
      {"AXListItem", "list"},
      {"AXScrollArea", "scroll_area"},
      {"AXWebArea", "web_area"},
      {"AXToolbar", "toolbar"},
      {"AXWindow", "window"},
      {"AXGroup", "group"},
  };
  auto it = categories.find(role);
  return it == categories.end() ? "other" : it->second;
}

FrameSelection selectBestFrameElement(Accessibility& ax, const AXUIElement& start) {
  std::vector<Candidate> candidates;
  AXUIElement current = start;
  for (int depth = 0;; ++depth) {
    if (auto frame = AXHelpers::getFrame(ax, current)) {
      candidates.push_back(
          {*frame, depth, AXHelpers::getStringAttribute(ax, current, "AXRole").value_or("")});
    }
    if (depth == MAX_FRAME_DEPTH) break;
    auto parent = AXHelpers::getElementAttribute(ax, current, "AXParent");
    if (!parent) break;
    current = *parent;
  }
  if (candidates.empty()) return {};

  const Candidate* best = nullptr;
  for (const auto& candidate : candidates) {
    if (candidate.frame.size.width < MIN_FRAME_WIDTH ||
        candidate.frame.size.height < MIN_FRAME_HEIGHT) {
      continue;
    }
    // Strictly smaller only: on equal areas the one nearer the focused element stays.
    if (!best || area(candidate.frame) < area(best->frame)) best = &candidate;
  }
  if (!best) {
    const Candidate& first = candidates.front();
    return {first.frame, first.depth, "fallback_first", first.role};
  }
  return {best->frame, best->depth, best->depth == 0 ? "focused" : "ancestor_min_area", best->role};
}

json focusInfo(Accessibility& ax, Workspace& workspace, const AXUIElement& element,
               std::int32_t pid) {
  const std::string appName = applicationName(workspace, pid);
  const std::string role = AXHelpers::getStringAttribute(ax, element, "AXRole").value_or("");
  const std::string roleDescription =
      AXHelpers::getStringAttribute(ax, element, "AXRoleDescription").value_or("");
  const auto title = AXHelpers::getStringAttribute(ax, element, "AXTitle");
  const auto value = AXHelpers::getStringAttribute(ax, element, "AXValue");
  const FrameSelection selection = selectBestFrameElement(ax, element);
  const bool valueSettable = AXHelpers::isAttributeSettable(ax, element, "AXValue");

  json info = {
      {"type", "focus_info"},
      {"timestamp", secondsSince1970()},
      {"pid", pid},
      {"app_name", appName},
      {"role", role},
      {"role_category", roleCategory(role)},
      {"role_description", roleDescription},
      {"value_settable", valueSettable},
  };
  if (title) info["title"] = *title;
  if (value) {
    const std::size_t length = UnicodeText::characterCount(*value);
    info["value_length"] = length;
    info["value_preview"] = length <= MAX_VALUE_PREVIEW
                                ? *value
                                : UnicodeText::characterPrefix(*value, MAX_VALUE_PREVIEW) + "...";
  }
  if (selection.frame) {
    info["frame"] = wireRect(*selection.frame);
    info["frame_source"] = {
        {"strategy", selection.strategy}, {"depth", selection.depth}, {"role", selection.role}};
  }
  return info;
}

void emitFocus(LineSink& sink, Accessibility& ax, Workspace& workspace, const AXUIElement& element,
               std::int32_t pid) {
  sink.emit(focusInfo(ax, workspace, element, pid));
}

}  // namespace nolari::FocusEmitter

#include "velkit/VelkitCommands.h"

#include <cmath>
#include <cstdint>
#include <functional>
#include <map>

#include "base/NolariLogger.h"
#include "core/AXBrowserDetector.h"
#include "core/AXFocusResolver.h"
#include "core/AXHelpers.h"
#include "core/AXScreenContext.h"
#include "core/AXTextCapture.h"
#include "core/UnicodeText.h"

namespace nolari::Velkit {

namespace {

using nlohmann::json;

// Whole numbers go out without a fraction, as the platform's writer puts them.
json number(double value) {
  if (std::isfinite(value) && value == std::trunc(value) && std::fabs(value) < 9.0e15) {
    return static_cast<std::int64_t>(value);
  }
  return value;
}

}  // namespace

void checkPermissions(LineSink& sink, Accessibility& ax) {
  const bool trusted = ax.isProcessTrusted(true);
  sink.emit({{"trusted", trusted}});
}

void getFocusedElement(LineSink& sink, Accessibility& ax, Workspace& workspace) {
  auto focused = AXFocusResolver::resolveFocusedElement(ax, workspace);
  if (!focused) {
    sink.emitError("No focused element");
    return;
  }
  json out = json::object();
  if (auto role = AXHelpers::getStringAttribute(ax, *focused, "AXRole")) out["role"] = *role;
  const std::string value = AXHelpers::getStringAttribute(ax, *focused, "AXValue").value_or("");
  out["value"] = value;
  out["length"] = UnicodeText::characterCount(value);
  out["settable"] = AXHelpers::isAttributeSettable(ax, *focused, "AXValue");
  sink.emit(out);
}

json buildSystemContext(Accessibility& ax, Workspace& workspace, bool includeSelectedText) {
  json context = json::object();
  const auto front = workspace.frontmostApplication();
  const std::string appName =
      front && front->localizedName ? *front->localizedName : std::string("Unknown");
  const std::string bundleId =
      front && front->bundleIdentifier ? *front->bundleIdentifier : std::string();
  const std::int32_t pid = front ? front->pid : 0;
  context["source_application"] = appName;
  context["source_bundle_id"] = bundleId;
  context["source_pid"] = pid;

  auto focused = AXFocusResolver::resolveFocusedElement(ax, workspace);
  if (!focused) {
    for (const char* key :
         {"window_title", "focused_role", "focused_title", "browser_page_title", "browser_url",
          "focused_value", "focused_label", "focused_help", "focused_placeholder",
          "focused_role_description", "focused_parent_role", "focused_parent_title"}) {
      context[key] = "";
    }
    context["is_browser"] = AXBrowserDetector::isBrowser(appName, bundleId);
    context["breadcrumbs"] = json::array();
    context["visible_texts"] = json::array();
    if (includeSelectedText) context["selected_text"] = "";
    return context;
  }

  context["focused_role"] = AXHelpers::getStringAttribute(ax, *focused, "AXRole").value_or("");
  context["focused_title"] = AXHelpers::getStringAttribute(ax, *focused, "AXTitle").value_or("");
  context["window_title"] = AXFocusResolver::resolveWindowTitle(ax, *focused, pid);
  if (auto frame = AXHelpers::getFrame(ax, *focused)) {
    context["focused_frame_x"] = number(frame->origin.x);
    context["focused_frame_y"] = number(frame->origin.y);
    context["focused_frame_w"] = number(frame->size.width);
    context["focused_frame_h"] = number(frame->size.height);
  }
  const auto page = AXBrowserDetector::resolveMetadata(ax, appName, bundleId, *focused, pid);
  context["browser_page_title"] = page.title;
  context["browser_url"] = page.url;
  context["is_browser"] = AXBrowserDetector::isBrowser(appName, bundleId);
  const json screen = AXScreenContext::build(ax, *focused, pid);
  for (const auto& [key, value] : screen.items()) context[key] = value;
  if (includeSelectedText) {
    context["selected_text"] =
        AXHelpers::getStringAttribute(ax, *focused, "AXSelectedText").value_or("");
  }
  return context;
}

void getSystemContext(LineSink& sink, Accessibility& ax, Workspace& workspace) {
  sink.emit(buildSystemContext(ax, workspace, false));
}

void captureSelection(LineSink& sink, Accessibility& ax, Workspace& workspace) {
  json context = buildSystemContext(ax, workspace, true);
  // Focus is looked up again: the user may have moved it while the context was read.
  auto focused = AXFocusResolver::resolveFocusedElement(ax, workspace);
  std::string selection;
  std::string captured;
  std::string source = "none";
  if (focused) {
    selection = AXTextCapture::captureSelectedText(ax, workspace, focused).value_or("");
    if (!selection.empty()) {
      captured = selection;
      source = "selected_text";
    } else if (auto value = AXTextCapture::captureValue(ax, workspace, focused);
               value && !value->empty()) {
      captured = *value;
      source = "field_value";
    }
  }
  context["selected_text"] = selection;
  context["captured_text"] = captured;
  context["copied_text"] = captured;
  context["copied_text_length"] = UnicodeText::characterCount(captured);
  context["capture_source"] = source;
  context["clipboard_changed"] = false;
  context["capture_method"] = "native_ax";
  sink.emit(context);
}

void writeText(LineSink& sink, Accessibility& ax, Workspace& workspace, std::string_view text) {
  NolariLogger::info("Writing text (" + std::to_string(UnicodeText::characterCount(text)) +
                     " chars)");
  const auto result = AXTextCapture::writeValue(ax, workspace, text, std::nullopt);
  if (result.success) {
    NolariLogger::info("Native set success");
    sink.emit({{"method", "native-set"}, {"status", "success"}});
    return;
  }
  NolariLogger::error(result.error.value_or("Unknown write error"));
  sink.emitError(result.error.value_or("Write failed"));
}

int run(const std::vector<std::string>& args, Connect connect, LineSink& sink) {
  if (args.empty()) {
    sink.emitError("No command provided");
    return 1;
  }
  using Handler = std::function<void(LineSink&, Accessibility&, Workspace&)>;
  const std::map<std::string, Handler, std::less<>> commands = {
      {"check-permissions",
       [](LineSink& out, Accessibility& ax, Workspace&) { checkPermissions(out, ax); }},
      {"get-focused", getFocusedElement},
      {"get-context", getSystemContext},
      {"capture-selection", captureSelection},
      {"write-text",
       [&args](LineSink& out, Accessibility& ax, Workspace& workspace) {
         if (args.size() < 2) {
           out.emitError("Missing text argument");
           return;
         }
         writeText(out, ax, workspace, args[1]);
       }},
  };
  auto command = commands.find(args[0]);
  if (command == commands.end()) {
    sink.emitError("Unknown command: " + args[0]);
    return 1;
  }
  platform::Platform desktop;
  std::string error;
  if (!connect(desktop, error)) {
    NolariLogger::error(error);
    sink.emitError(error);
    return 2;
  }
  command->second(sink, *desktop.accessibility, *desktop.workspace);
  return 0;
}

}  // namespace nolari::Velkit

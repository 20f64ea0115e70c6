#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/Accessibility.h"
#include "platform/Windowing.h"
#include "platform/Workspace.h"

// The simulated desktop as a scene file describes it, and the conversion
// between the file's JSON and that model. The format is documented in the
// README ("Simulated desktop scenes").

namespace nolari::platform {

// What an attribute read answers: a value, or an error code instead of one.
struct SimAnswer {
  AXError error = AXErrorCode::success;
  AXValue value;
};

using SimAttributes = std::map<std::string, SimAnswer, std::less<>>;

// One canned answer of "AXBoundsForRange"; without a range it answers any range.
struct SimBoundsAnswer {
  std::optional<TextRange> range;
  SimAnswer answer;
};

// An element of an application's tree. Indices point into the owning
// application's `nodes`; -1 as a parent means the application element.
struct SimNode {
  std::string id;
  int parent = -1;
  std::vector<int> children;
  SimAttributes attributes;
  // Per attribute: settable or not, or the error the settable query answers.
  std::map<std::string, SimAnswer, std::less<>> settable;
  std::map<std::string, AXError, std::less<>> setErrors;
  std::vector<SimBoundsAnswer> boundsForRange;
  // Where the element sits in the scene document, for writing values back.
  std::string documentPointer;
};

struct SimApplication {
  std::string id;
  RunningApplication info;
  bool running = true;
  // Explicit answers of the application element itself.
  SimAttributes attributes;
  std::vector<SimNode> nodes;
  std::vector<int> windows;
  int focused = -1;
};

// Whether the desktop lets a program tap the keyboard or the mouse: a tap is
// made, refused, or made but never sees an event (no permission to listen).
enum class SimTapMode { ok, refused, silent };

struct SimSceneModel {
  bool trusted = true;
  SimTapMode keyboardTap = SimTapMode::ok;
  SimTapMode mouseTap = SimTapMode::ok;
  std::vector<Screen> screens;
  std::optional<std::size_t> mainScreen;
  Point mouse;
  std::vector<SimApplication> applications;
  std::optional<std::int32_t> frontmost;
  // Explicit answers of the system-wide element.
  SimAttributes systemWide;
  // The user's settings (see UserDefaults), kept in memory only.
  std::map<std::string, bool, std::less<>> userDefaults;
  DisplayOptions displayOptions;
};

// Resolves scene ids to element handles.
using SimElementFactory = std::function<std::optional<AXUIElement>(const std::string& id)>;
// Makes the handle of an application's element (node -1: the application).
using SimHandleMaker = std::function<AXUIElement(std::int32_t pid, int node)>;
// Gives the scene id of an element handle, for writing values back.
using SimElementNamer = std::function<std::optional<std::string>(const AXUIElement& element)>;

namespace SimScene {

// Reads a scene document. On failure `error` says where and what is wrong.
bool parse(const nlohmann::json& document, SimSceneModel& model, const SimHandleMaker& makeElement,
           std::string& error);

// The "screens" and "main_screen" members of `holder` (a scene, or a control
// line) in the scene's notation; the main screen is the first unless
// "main_screen" says otherwise.
bool parseScreens(const nlohmann::json& holder, std::vector<Screen>& screens,
                  std::optional<std::size_t>& mainScreen, std::string& error);

// The display options of `options` ("reduce_motion", "increase_contrast",
// both booleans) over `into`: a member left out keeps its value. `path` names
// the object in messages.
bool parseDisplayOptions(const nlohmann::json& options, const std::string& path,
                         DisplayOptions& into, std::string& error);

// One attribute value in the scene's notation; `path` names it in messages.
std::optional<SimAnswer> parseAnswer(const nlohmann::json& value,
                                     const SimElementFactory& elementForId, const std::string& path,
                                     std::string& error);

// The scene notation of a value; nothing for an element without a scene id.
std::optional<nlohmann::ordered_json> valueToJSON(const AXValue& value,
                                                  const SimElementNamer& idOf);

}  // namespace SimScene

}  // namespace nolari::platform

#include "platform/sim/Scene.h"

#include <cmath>
#include <limits>
#include <set>
#include <unordered_map>

namespace nolari::platform {

namespace {

using nlohmann::json;

bool isAttributeName(const std::string& key) { return key.size() > 2 && key.starts_with("AX"); }

std::string describe(const json& value) {
  switch (value.type()) {
    case json::value_t::null:
      return "null";
    case json::value_t::boolean:
      return "a boolean";
    case json::value_t::string:
      return "a string";
    case json::value_t::array:
      return "an array";
    case json::value_t::object:
      return "an object";
    default:
      return "a number";
  }
}

// The path of a member, as messages name it: "applications[0].name".
std::string member(const std::string& path, std::string_view key) {
  std::string joined = path;
  joined += '.';
  joined += key;
  return joined;
}

bool fail(std::string& error, const std::string& path, const std::string& what) {
  error = path + ": " + what;
  return false;
}

bool readNumbers(const json& value, std::size_t count, std::vector<double>& out,
                 const std::string& path, std::string& error) {
  if (!value.is_array() || value.size() != count) {
    return fail(
        error, path,
        "expected an array of " + std::to_string(count) + " numbers, found " +
            (value.is_array() ? "an array of " + std::to_string(value.size()) : describe(value)));
  }
  out.clear();
  for (const auto& n : value) {
    if (!n.is_number()) return fail(error, path, "expected numbers, found " + describe(n));
    out.push_back(n.get<double>());
  }
  return true;
}

bool readRect(const json& value, Rect& rect, const std::string& path, std::string& error) {
  std::vector<double> n;
  if (!readNumbers(value, 4, n, path, error)) return false;
  rect = Rect{{n[0], n[1]}, {n[2], n[3]}};
  return true;
}

bool readInt32(const json& value, std::int32_t& out, const std::string& path, std::string& error) {
  const bool fits =
      value.is_number_unsigned()
          ? value.get<std::uint64_t>() <=
                static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())
          : value.is_number_integer() &&
                value.get<std::int64_t>() >= std::numeric_limits<std::int32_t>::min() &&
                value.get<std::int64_t>() <= std::numeric_limits<std::int32_t>::max();
  if (!fits) {
    return fail(error, path, "expected a 32-bit integer, found " + describe(value));
  }
  out = value.get<std::int32_t>();
  return true;
}

bool readOptionalString(const json& value, std::optional<std::string>& out, const std::string& path,
                        std::string& error) {
  if (value.is_null()) {
    out.reset();
    return true;
  }
  if (!value.is_string()) return fail(error, path, "expected a string, found " + describe(value));
  out = value.get<std::string>();
  return true;
}

// A text range: two whole numbers, as the platform packs them.
bool readRange(const json& value, TextRange& range, const std::string& path, std::string& error) {
  std::vector<double> n;
  if (!readNumbers(value, 2, n, path, error)) return false;
  constexpr double LIMIT = 9007199254740992.0;  // 2^53: every whole number below is exact
  for (double x : n) {
    if (x != std::trunc(x) || x < -LIMIT || x > LIMIT) {
      return fail(error, path, "expected whole numbers");
    }
  }
  range = TextRange{static_cast<long>(n[0]), static_cast<long>(n[1])};
  return true;
}

// An attribute value whose reading waits until every id in the scene is known.
struct PendingAttribute {
  SimAttributes* target;
  std::string name;
  const json* value;
  std::string path;
};

class SceneReader {
 public:
  SceneReader(SimSceneModel& model, const SimHandleMaker& makeElement, std::string& error)
      : model_(model), makeElement_(makeElement), error_(error) {}

  bool read(const json& document) {
    if (!document.is_object()) {
      return fail(error_, "scene", "expected a JSON object, found " + describe(document));
    }
    static const std::set<std::string> known = {"trusted",       "screens",        "main_screen",
                                                "mouse",         "frontmost",      "applications",
                                                "system_wide",   "keyboard_tap",   "mouse_tap",
                                                "user_defaults", "display_options"};
    for (const auto& [key, value] : document.items()) {
      if (!known.contains(key)) return fail(error_, "scene", "unknown member \"" + key + "\"");
    }
    if (document.contains("trusted")) {
      if (!document["trusted"].is_boolean()) {
        return fail(error_, "trusted",
                    "expected a boolean, found " + describe(document["trusted"]));
      }
      model_.trusted = document["trusted"].get<bool>();
    }
    if (!readTapMode(document, "keyboard_tap", model_.keyboardTap)) return false;
    if (!readTapMode(document, "mouse_tap", model_.mouseTap)) return false;
    if (!SimScene::parseScreens(document, model_.screens, model_.mainScreen, error_)) return false;
    if (document.contains("mouse")) {
      std::vector<double> n;
      if (!readNumbers(document["mouse"], 2, n, "mouse", error_)) return false;
      model_.mouse = Point{n[0], n[1]};
    }
    if (!readUserDefaults(document)) return false;
    if (document.contains("display_options") &&
        !SimScene::parseDisplayOptions(document["display_options"], "display_options",
                                       model_.displayOptions, error_)) {
      return false;
    }
    if (!readApplications(document)) return false;
    if (!readFrontmost(document)) return false;
    if (document.contains("system_wide")) {
      const json& sw = document["system_wide"];
      if (!sw.is_object()) {
        return fail(error_, "system_wide", "expected an object, found " + describe(sw));
      }
      for (const auto& [key, value] : sw.items()) {
        if (!isAttributeName(key)) {
          return fail(error_, "system_wide", "unknown member \"" + key + "\"");
        }
        pending_.push_back({&model_.systemWide, key, &value, "system_wide." + key});
      }
    }
    // Applications no longer grow: pointers into them stay valid from here on.
    for (const auto& p : pending_) {
      auto answer = SimScene::parseAnswer(*p.value, elementFactory(), p.path, error_);
      if (!answer) return false;
      (*p.target)[p.name] = std::move(*answer);
    }
    return true;
  }

 private:
  SimElementFactory elementFactory() {
    return [this](const std::string& id) -> std::optional<AXUIElement> {
      auto it = ids_.find(id);
      if (it == ids_.end()) return std::nullopt;
      return makeElement_(it->second.first, it->second.second);
    };
  }

  bool readTapMode(const json& document, const char* key, SimTapMode& mode) {
    if (!document.contains(key)) return true;
    const json& value = document[key];
    static const std::map<std::string, SimTapMode, std::less<>> modes = {
        {"ok", SimTapMode::ok}, {"refused", SimTapMode::refused}, {"silent", SimTapMode::silent}};
    auto it = value.is_string() ? modes.find(value.get<std::string>()) : modes.end();
    if (it == modes.end()) {
      const std::string found =
          value.is_string() ? "\"" + value.get<std::string>() + "\"" : describe(value);
      return fail(error_, key, "expected \"ok\", \"refused\" or \"silent\", found " + found);
    }
    mode = it->second;
    return true;
  }

  // Booleans only: the one setting the programs keep is a flag.
  bool readUserDefaults(const json& document) {
    if (!document.contains("user_defaults")) return true;
    const json& defaults = document["user_defaults"];
    if (!defaults.is_object()) {
      return fail(error_, "user_defaults", "expected an object, found " + describe(defaults));
    }
    for (const auto& [key, value] : defaults.items()) {
      if (value.is_boolean()) model_.userDefaults[key] = value.get<bool>();
    }
    return true;
  }

  bool readFrontmost(const json& document) {
    if (!model_.applications.empty()) model_.frontmost = model_.applications.front().info.pid;
    if (!document.contains("frontmost")) return true;
    const json& f = document["frontmost"];
    if (f.is_null()) {
      model_.frontmost.reset();
      return true;
    }
    std::int32_t pid = 0;
    if (!readInt32(f, pid, "frontmost", error_)) return false;
    for (const auto& app : model_.applications) {
      if (app.info.pid == pid) {
        model_.frontmost = pid;
        return true;
      }
    }
    return fail(error_, "frontmost", "no application has pid " + std::to_string(pid));
  }

  bool claimId(const std::string& id, std::int32_t pid, int node, const std::string& path) {
    if (!ids_.emplace(id, std::make_pair(pid, node)).second) {
      return fail(error_, path, "the id \"" + id + "\" is used twice");
    }
    return true;
  }

  bool readApplications(const json& document) {
    if (!document.contains("applications")) return true;
    const json& apps = document["applications"];
    if (!apps.is_array()) {
      return fail(error_, "applications", "expected an array, found " + describe(apps));
    }
    // Reserve so that pending pointers into the applications stay valid.
    model_.applications.reserve(apps.size());
    std::set<std::int32_t> pids;
    for (std::size_t i = 0; i < apps.size(); ++i) {
      const std::string path = "applications[" + std::to_string(i) + "]";
      const json& a = apps[i];
      if (!a.is_object()) return fail(error_, path, "expected an object, found " + describe(a));
      SimApplication& app = model_.applications.emplace_back();
      app.info.pid = 1000 + static_cast<std::int32_t>(i);
      if (a.contains("pid") && !readInt32(a["pid"], app.info.pid, path + ".pid", error_)) {
        return false;
      }
      if (app.info.pid <= 0) return fail(error_, path + ".pid", "a pid must be positive");
      if (!pids.insert(app.info.pid).second) {
        return fail(error_, path + ".pid",
                    "pid " + std::to_string(app.info.pid) + " is used twice");
      }
      for (const auto& [key, value] : a.items()) {
        if (isAttributeName(key)) {
          pending_.push_back({&app.attributes, key, &value, member(path, key)});
        } else if (key == "name") {
          if (!readOptionalString(value, app.info.localizedName, path + ".name", error_))
            return false;
        } else if (key == "bundle_id") {
          if (!readOptionalString(value, app.info.bundleIdentifier, path + ".bundle_id", error_)) {
            return false;
          }
        } else if (key != "pid" && key != "id" && key != "focused" && key != "windows") {
          return fail(error_, path, "unknown member \"" + key + "\"");
        }
      }
      app.id = "#" + std::to_string(app.info.pid);
      if (a.contains("id")) {
        if (!a["id"].is_string()) return fail(error_, path + ".id", "expected a string");
        app.id = a["id"].get<std::string>();
      }
      if (!claimId(app.id, app.info.pid, -1, path + ".id")) return false;
      if (a.contains("windows")) {
        const json& windows = a["windows"];
        if (!windows.is_array()) {
          return fail(error_, path + ".windows", "expected an array, found " + describe(windows));
        }
        std::size_t count = 0;
        countNodes(windows, count);
        app.nodes.reserve(count);
        for (std::size_t w = 0; w < windows.size(); ++w) {
          int index =
              readNode(app, windows[w], -1, path + ".windows[" + std::to_string(w) + "]",
                       "/applications/" + std::to_string(i) + "/windows/" + std::to_string(w));
          if (index < 0) return false;
          app.windows.push_back(index);
        }
      }
      if (a.contains("focused") && !a["focused"].is_null()) {
        if (!a["focused"].is_string()) {
          return fail(error_, path + ".focused", "expected an element id or null");
        }
        const auto id = a["focused"].get<std::string>();
        auto it = ids_.find(id);
        if (it == ids_.end() || it->second.first != app.info.pid || it->second.second < 0) {
          return fail(error_, path + ".focused",
                      "\"" + id + "\" is not an element of this application");
        }
        app.focused = it->second.second;
      }
    }
    return true;
  }

  static void countNodes(const json& list, std::size_t& count) {
    for (const auto& n : list) {
      ++count;
      if (n.is_object() && n.contains("children") && n["children"].is_array()) {
        countNodes(n["children"], count);
      }
    }
  }

  // Returns the node's index, or -1 with `error_` set.
  int readNode(SimApplication& app, const json& n, int parent, const std::string& path,
               const std::string& pointer) {
    if (!n.is_object()) {
      fail(error_, path, "expected an element object, found " + describe(n));
      return -1;
    }
    const int index = static_cast<int>(app.nodes.size());
    app.nodes.emplace_back();
    {
      SimNode& node = app.nodes.back();
      node.parent = parent;
      node.documentPointer = pointer;
      node.id = "#" + std::to_string(app.info.pid) + ":" + std::to_string(index);
    }
    SimNode* node = &app.nodes[static_cast<std::size_t>(index)];
    if (n.contains("id")) {
      if (!n["id"].is_string()) {
        fail(error_, path + ".id", "expected a string, found " + describe(n["id"]));
        return -1;
      }
      node->id = n["id"].get<std::string>();
    }
    if (!claimId(node->id, app.info.pid, index, path + ".id")) return -1;
    if (n.contains("frame")) {
      Rect frame;
      if (!readRect(n["frame"], frame, path + ".frame", error_)) return -1;
      node->attributes["AXPosition"] = SimAnswer{AXErrorCode::success, frame.origin};
      node->attributes["AXSize"] = SimAnswer{AXErrorCode::success, frame.size};
    }
    for (const auto& [key, value] : n.items()) {
      if (isAttributeName(key)) {
        pending_.push_back({&node->attributes, key, &value, member(path, key)});
      } else if (key == "settable") {
        if (!readSettable(*node, value, path + ".settable")) return -1;
      } else if (key == "set_errors") {
        if (!value.is_object()) {
          fail(error_, path + ".set_errors", "expected an object of error codes");
          return -1;
        }
        for (const auto& [name, code] : value.items()) {
          AXError e = 0;
          if (!readInt32(code, e, member(member(path, "set_errors"), name), error_)) return -1;
          node->setErrors[name] = e;
        }
      } else if (key == "bounds_for_range") {
        if (!readBounds(*node, value, path + ".bounds_for_range")) return -1;
      } else if (key != "id" && key != "frame" && key != "children") {
        fail(error_, path, "unknown member \"" + key + "\"");
        return -1;
      }
    }
    if (n.contains("children")) {
      const json& children = n["children"];
      if (!children.is_array()) {
        fail(error_, path + ".children", "expected an array, found " + describe(children));
        return -1;
      }
      for (std::size_t c = 0; c < children.size(); ++c) {
        int child = readNode(app, children[c], index, path + ".children[" + std::to_string(c) + "]",
                             pointer + "/children/" + std::to_string(c));
        if (child < 0) return -1;
        app.nodes[static_cast<std::size_t>(index)].children.push_back(child);
      }
    }
    return index;
  }

  bool readSettable(SimNode& node, const json& value, const std::string& path) {
    if (value.is_array()) {
      for (const auto& name : value) {
        if (!name.is_string()) return fail(error_, path, "expected attribute names");
        node.settable[name.get<std::string>()] = SimAnswer{AXErrorCode::success, true};
      }
      return true;
    }
    if (!value.is_object()) {
      return fail(error_, path, "expected an array of attribute names or an object");
    }
    for (const auto& [name, v] : value.items()) {
      if (v.is_boolean()) {
        node.settable[name] = SimAnswer{AXErrorCode::success, v.get<bool>()};
      } else if (v.is_object() && v.size() == 1 && v.contains("error")) {
        AXError e = 0;
        if (!readInt32(v["error"], e, member(member(path, name), "error"), error_)) return false;
        node.settable[name] = SimAnswer{e, {}};
      } else {
        return fail(error_, member(path, name), "expected a boolean or {\"error\": code}");
      }
    }
    return true;
  }

  bool readBounds(SimNode& node, const json& value, const std::string& path) {
    if (!value.is_array()) return fail(error_, path, "expected an array");
    for (std::size_t i = 0; i < value.size(); ++i) {
      const std::string p = path + "[" + std::to_string(i) + "]";
      const json& entry = value[i];
      if (!entry.is_object()) return fail(error_, p, "expected an object");
      SimBoundsAnswer bounds;
      for (const auto& [key, v] : entry.items()) {
        if (key != "range" && key != "rect" && key != "error") {
          return fail(error_, p, "unknown member \"" + key + "\"");
        }
      }
      if (entry.contains("range")) {
        TextRange range;
        if (!readRange(entry["range"], range, p + ".range", error_)) return false;
        bounds.range = range;
      }
      if (entry.contains("error") == entry.contains("rect")) {
        return fail(error_, p, "expected exactly one of \"rect\" and \"error\"");
      }
      if (entry.contains("error")) {
        if (!readInt32(entry["error"], bounds.answer.error, p + ".error", error_)) return false;
      } else {
        Rect r;
        if (!readRect(entry["rect"], r, p + ".rect", error_)) return false;
        bounds.answer.value = r;
      }
      node.boundsForRange.push_back(std::move(bounds));
    }
    return true;
  }

  SimSceneModel& model_;
  const SimHandleMaker& makeElement_;
  std::string& error_;
  std::unordered_map<std::string, std::pair<std::int32_t, int>> ids_;
  std::vector<PendingAttribute> pending_;
};

std::optional<AXValue> parsePlainValue(const json& value, const SimElementFactory& elementForId,
                                       const std::string& path, std::string& error) {
  switch (value.type()) {
    case json::value_t::string:
      return AXValue(value.get<std::string>());
    case json::value_t::boolean:
      return AXValue(value.get<bool>());
    case json::value_t::number_integer:
    case json::value_t::number_unsigned:
    case json::value_t::number_float:
      return AXValue(value.get<double>());
    case json::value_t::array: {
      AXArray items;
      for (std::size_t i = 0; i < value.size(); ++i) {
        auto item =
            parsePlainValue(value[i], elementForId, path + "[" + std::to_string(i) + "]", error);
        if (!item) return std::nullopt;
        items.push_back(std::move(*item));
      }
      return AXValue(std::move(items));
    }
    case json::value_t::object:
      break;
    default:
      fail(error, path, "expected a value, found " + describe(value));
      return std::nullopt;
  }
  if (value.size() != 1) {
    fail(error, path,
         "a tagged value has exactly one of \"point\", \"size\", \"rect\", \"range\", \"url\", "
         "\"ref\", \"error\"");
    return std::nullopt;
  }
  const std::string tag = value.begin().key();
  const json& body = value.begin().value();
  std::vector<double> n;
  if (tag == "point") {
    if (!readNumbers(body, 2, n, path + ".point", error)) return std::nullopt;
    return AXValue(Point{n[0], n[1]});
  }
  if (tag == "size") {
    if (!readNumbers(body, 2, n, path + ".size", error)) return std::nullopt;
    return AXValue(Size{n[0], n[1]});
  }
  if (tag == "rect") {
    Rect r;
    if (!readRect(body, r, path + ".rect", error)) return std::nullopt;
    return AXValue(r);
  }
  if (tag == "range") {
    TextRange range;
    if (!readRange(body, range, path + ".range", error)) return std::nullopt;
    return AXValue(range);
  }
  if (tag == "url") {
    if (!body.is_string()) {
      fail(error, path + ".url", "expected a string, found " + describe(body));
      return std::nullopt;
    }
    return AXValue(AXURL{body.get<std::string>()});
  }
  if (tag == "ref") {
    if (!body.is_string()) {
      fail(error, path + ".ref", "expected an element id, found " + describe(body));
      return std::nullopt;
    }
    auto element = elementForId(body.get<std::string>());
    if (!element) {
      fail(error, path + ".ref", "no element has the id \"" + body.get<std::string>() + "\"");
      return std::nullopt;
    }
    return AXValue(std::move(*element));
  }
  fail(error, path, "unknown value tag \"" + tag + "\"");
  return std::nullopt;
}

}  // namespace

namespace SimScene {

bool parse(const json& document, SimSceneModel& model, const SimHandleMaker& makeElement,
           std::string& error) {
  model = SimSceneModel{};
  SceneReader reader(model, makeElement, error);
  return reader.read(document);
}

bool parseDisplayOptions(const json& options, const std::string& path, DisplayOptions& into,
                         std::string& error) {
  if (!options.is_object())
    return fail(error, path, "expected an object, found " + describe(options));
  DisplayOptions read = into;
  for (const auto& [key, value] : options.items()) {
    bool* target = key == "reduce_motion"       ? &read.reduceMotion
                   : key == "increase_contrast" ? &read.increaseContrast
                                                : nullptr;
    if (!target) return fail(error, path, "unknown member \"" + key + "\"");
    if (!value.is_boolean()) {
      return fail(error, member(path, key), "expected a boolean, found " + describe(value));
    }
    *target = value.get<bool>();
  }
  // Nothing changes unless every member is sound.
  into = read;
  return true;
}

bool parseScreens(const json& holder, std::vector<Screen>& screens,
                  std::optional<std::size_t>& mainScreen, std::string& error) {
  std::vector<Screen> read;
  if (holder.contains("screens")) {
    const json& list = holder["screens"];
    if (!list.is_array()) {
      return fail(error, "screens", "expected an array, found " + describe(list));
    }
    for (std::size_t i = 0; i < list.size(); ++i) {
      const std::string path = "screens[" + std::to_string(i) + "]";
      const json& s = list[i];
      if (!s.is_object()) return fail(error, path, "expected an object, found " + describe(s));
      for (const auto& [key, value] : s.items()) {
        if (key != "frame" && key != "visible_frame") {
          return fail(error, path, "unknown member \"" + key + "\"");
        }
      }
      if (!s.contains("frame")) return fail(error, path, "missing \"frame\"");
      Screen screen;
      if (!readRect(s["frame"], screen.frame, path + ".frame", error)) return false;
      screen.visibleFrame = screen.frame;
      if (s.contains("visible_frame") &&
          !readRect(s["visible_frame"], screen.visibleFrame, path + ".visible_frame", error)) {
        return false;
      }
      read.push_back(screen);
    }
  }
  std::optional<std::size_t> main;
  if (!read.empty()) main = 0;
  if (holder.contains("main_screen")) {
    const json& m = holder["main_screen"];
    if (m.is_null()) {
      main.reset();
    } else if (m.is_number_unsigned() && m.get<std::size_t>() < read.size()) {
      main = m.get<std::size_t>();
    } else {
      return fail(error, "main_screen",
                  "expected null or an index into \"screens\" (0 to " +
                      std::to_string(read.size()) + " exclusive)");
    }
  }
  screens = std::move(read);
  mainScreen = main;
  return true;
}

std::optional<SimAnswer> parseAnswer(const json& value, const SimElementFactory& elementForId,
                                     const std::string& path, std::string& error) {
  if (value.is_null()) return SimAnswer{AXErrorCode::noValue, {}};
  if (value.is_object() && value.size() == 1 && value.contains("error")) {
    AXError code = 0;
    if (!readInt32(value["error"], code, path + ".error", error)) return std::nullopt;
    return SimAnswer{code, {}};
  }
  auto plain = parsePlainValue(value, elementForId, path, error);
  if (!plain) return std::nullopt;
  return SimAnswer{AXErrorCode::success, std::move(*plain)};
}

std::optional<nlohmann::ordered_json> valueToJSON(const AXValue& value,
                                                  const SimElementNamer& idOf) {
  return std::visit(
      [&](const auto& v) -> std::optional<nlohmann::ordered_json> {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::string> || std::is_same_v<T, bool> ||
                      std::is_same_v<T, double>) {
          return nlohmann::ordered_json(v);
        } else if constexpr (std::is_same_v<T, AXURL>) {
          return nlohmann::ordered_json{{"url", v.absoluteString}};
        } else if constexpr (std::is_same_v<T, AXUIElement>) {
          auto id = idOf(v);
          if (!id) return std::nullopt;
          return nlohmann::ordered_json{{"ref", *id}};
        } else if constexpr (std::is_same_v<T, AXArray>) {
          nlohmann::ordered_json items = nlohmann::ordered_json::array();
          for (const auto& item : v) {
            auto j = valueToJSON(item, idOf);
            if (!j) return std::nullopt;
            items.push_back(std::move(*j));
          }
          return items;
        } else if constexpr (std::is_same_v<T, Point>) {
          return nlohmann::ordered_json{{"point", {v.x, v.y}}};
        } else if constexpr (std::is_same_v<T, Size>) {
          return nlohmann::ordered_json{{"size", {v.width, v.height}}};
        } else if constexpr (std::is_same_v<T, TextRange>) {
          return nlohmann::ordered_json{{"range", {v.location, v.length}}};
        } else {
          return nlohmann::ordered_json{
              {"rect", {v.origin.x, v.origin.y, v.size.width, v.size.height}}};
        }
      },
      value.storage);
}

}  // namespace SimScene

}  // namespace nolari::platform

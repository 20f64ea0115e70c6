#pragma once

#include <functional>
#include <string_view>

#include <nlohmann/json.hpp>

namespace nolari::ambrel {

// Writes one event line: the payload with its "type" set. Called from any of
// the agent's threads; each call writes its line whole.
using Emit = std::function<void(std::string_view type, const nlohmann::json& payload)>;

}  // namespace nolari::ambrel

#pragma once

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

// Lines for the parent application: one compact JSON object per line on
// standard output, each written whole even when several threads write.

namespace nolari::JSONOutput {

void emit(const nlohmann::json& object);
// Emits a copy of `payload` whose "type" is `type`.
void emitTyped(std::string_view type, const nlohmann::json& payload);
// {"error": "<message>"} with exactly one space after the colon.
void emitError(std::string_view message);

// The same lines as text, newline included, for a LineSink to write.
std::string formatLine(const nlohmann::json& object);
std::string formatTypedLine(std::string_view type, const nlohmann::json& payload);
std::string formatErrorLine(std::string_view message);

}  // namespace nolari::JSONOutput

#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

// Velkit's commands. Each prints exactly one JSON line on standard output.

namespace nolari::Velkit {

void checkPermissions();
void getFocusedElement();
void getSystemContext();
void captureSelection();
void writeText(std::string_view text);

// The context of the frontmost application's focused element; with
// `includeSelectedText` it also holds "selected_text".
nlohmann::json buildSystemContext(bool includeSelectedText);

// Runs the command named by `args` (the arguments after the program name,
// already valid UTF-8) and returns the exit status. `connect` is called once
// the command word is known to be valid and must install the platform; when it
// fails its message is printed and logged and the status is 2.
using Connect = bool (*)(std::string& error);
int run(const std::vector<std::string>& args, Connect connect);

}  // namespace nolari::Velkit

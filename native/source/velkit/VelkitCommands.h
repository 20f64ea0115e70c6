#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/LineSink.h"
#include "platform/Accessibility.h"
#include "platform/Platform.h"
#include "platform/Workspace.h"

// Velkit's commands. Each writes exactly one JSON line to the sink it is given.

namespace nolari::Velkit {

using platform::Accessibility;
using platform::Workspace;

void checkPermissions(LineSink& sink, Accessibility& ax);
void getFocusedElement(LineSink& sink, Accessibility& ax, Workspace& workspace);
void getSystemContext(LineSink& sink, Accessibility& ax, Workspace& workspace);
void captureSelection(LineSink& sink, Accessibility& ax, Workspace& workspace);
void writeText(LineSink& sink, Accessibility& ax, Workspace& workspace, std::string_view text);

// The context of the frontmost application's focused element; with
// `includeSelectedText` it also holds "selected_text".
nlohmann::json buildSystemContext(Accessibility& ax, Workspace& workspace,
                                  bool includeSelectedText);

// Runs the command named by `args` (the arguments after the program name,
// already valid UTF-8) and returns the exit status. `connect` is called once
// the command word is known to be valid and fills the table the command runs
// on; when it fails its message is written and logged and the status is 2.
using Connect = bool (*)(platform::Platform& platform, std::string& error);
int run(const std::vector<std::string>& args, Connect connect, LineSink& sink);

}  // namespace nolari::Velkit

#pragma once

#include <string>
#include <string_view>

#include "platform/Accessibility.h"

// How the accessibility bus's vocabulary reads in the programs' model: role
// numbers and states become "AX…" role strings, failures become error codes.
// Pure functions, so they are tested without a desktop.

namespace nolari::platform::AtspiMapping {

// The states that change what a role reads as.
struct RoleStates {
  bool multiLine = false;
  bool editable = false;
};

// The "AX…" role of a bus role number (AtspiRole), "AXUnknown" for roles the
// programs have no name for.
std::string axRole(int atspiRole, RoleStates states);

// Roles whose element is a window: the ones an application lists as its own.
bool isWindowRole(int atspiRole);

// Roles whose text is the element's value; editable ones also take writes.
bool hasTextValue(int atspiRole, RoleStates states);

// The error code for a failed bus request, judged from the reason given: the
// object or application gone, the interface missing, no answer in time.
AXError errorFromMessage(std::string_view message);

}  // namespace nolari::platform::AtspiMapping

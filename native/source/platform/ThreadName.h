#pragma once

#include <string>

namespace nolari::platform {

// Names the calling thread, as debuggers and `ps` show it; Linux keeps the
// first 15 bytes.
void nameCurrentThread(const std::string& name);

}  // namespace nolari::platform

#pragma once

#include <chrono>
#include <functional>

#include "platform/RunLoop.h"
#include "platform/Windowing.h"

// The notice, once per user, that the blob now stays out of sight while
// nothing goes on: shown shortly after the first start with this behaviour.

namespace nolari::ambrel::BlobMigrationNotice {

inline constexpr const char* KEY = "migratedToHiddenBlob_v1";
inline constexpr const char* MESSAGE = "Nolari runs quietly in the background now";
inline constexpr platform::Duration DELAY = std::chrono::milliseconds(800);

// At start-up. When the notice is due it is marked as given at once, and
// `show` runs on the main loop after `DELAY`.
void scheduleIfDue(platform::UserDefaults& defaults, platform::RunLoop& mainLoop,
                   std::function<void()> show);

}  // namespace nolari::ambrel::BlobMigrationNotice

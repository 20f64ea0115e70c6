#include "ambrel/blob/BlobMigrationNotice.h"

#include <utility>

namespace nolari::ambrel::BlobMigrationNotice {

void scheduleIfDue(platform::UserDefaults& defaults, platform::RunLoop& mainLoop,
                   std::function<void()> show) {
  if (defaults.boolForKey(KEY).value_or(false)) return;
  defaults.setBool(KEY, true);
  mainLoop.postAfter(DELAY, std::move(show));
}

}  // namespace nolari::ambrel::BlobMigrationNotice

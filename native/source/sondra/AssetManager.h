#pragma once

#include <functional>
#include <string>

#include <nlohmann/json.hpp>

#include "base/LineSink.h"
#include "platform/RunLoop.h"
#include "platform/Speech.h"

// The speech-recognition permission and the recognition assets of a language.

namespace nolari::sondra::AssetManager {

// "authorized", "denied", "restricted" or "notDetermined".
std::string authorizationStatus(platform::Speech& speech);
// Asks the user and hands the status read after the answer to `completion`.
void requestAuthorization(platform::Speech& speech,
                          std::function<void(const std::string&)> completion);

// "unsupported", "supported", "downloading" or "installed".
std::string localeAssetStatus(platform::Speech& speech, const std::string& localeId);

// Installs the locale's assets, writing "asset_progress" and "asset_error"
// lines to `sink`, which outlives the installation. While the download runs, a task on the main
// queue writes the progress every PROGRESS_INTERVAL; a success ends with
// progress 1.0, a failure with an "asset_error" line. `completion` runs once on
// any thread when it is over, whatever the outcome.
inline constexpr std::chrono::milliseconds PROGRESS_INTERVAL{250};
void installLocaleAsset(platform::Speech& speech, platform::RunLoop& runLoop,
                        const std::string& localeId, const std::string& requestId, LineSink& sink,
                        std::function<void()> completion);

}  // namespace nolari::sondra::AssetManager

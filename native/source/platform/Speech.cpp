#include "platform/Speech.h"

#include <cstdlib>
#include <fstream>

#include <nlohmann/json.hpp>

#include "platform/Platform.h"
#include "platform/linux/RunLoop.h"
#include "platform/linux/Speech.h"
#include "platform/sim/Speech.h"

namespace nolari::platform {

namespace {

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

}  // namespace

bool connectSpeech(Platform& platform, std::string& error) {
  const std::string which = environment("NOLARI_PLATFORM");
  if (!which.empty() && which != "sim" && which != "linux") {
    error = "NOLARI_PLATFORM=" + which + " is not a known platform (\"sim\", or unset for the real one)";
    return false;
  }
  auto runLoop = std::make_unique<AsioRunLoop>();
  if (which == "sim") {
    const std::string scriptPath = environment("NOLARI_SPEECH_SCRIPT");
    if (scriptPath.empty()) {
      error = "NOLARI_PLATFORM=sim needs NOLARI_SPEECH_SCRIPT to name a speech script";
      return false;
    }
    std::ifstream in(scriptPath);
    if (!in) {
      error = "cannot read the speech script " + scriptPath;
      return false;
    }
    nlohmann::json script = nlohmann::json::parse(in, nullptr, false);
    if (script.is_discarded() || !script.is_object()) {
      error = "the speech script " + scriptPath + " is not a JSON object";
      return false;
    }
    platform.speech = std::make_unique<SimSpeech>(*runLoop, std::move(script));
  } else {
    std::string modelDir = environment("NOLARI_SPEECH_MODEL_DIR");
    platform.speech = std::make_unique<PocketSpeech>(modelDir.empty() ? PocketSpeech::DEFAULT_MODEL_DIR : modelDir);
  }
  platform.runLoop = std::move(runLoop);
  return true;
}

}  // namespace nolari::platform

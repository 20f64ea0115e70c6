#pragma once

#include <map>
#include <mutex>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/RunLoop.h"
#include "platform/Speech.h"

// Scripted speech for tests. The script is a JSON object:
//   "authorization": the status before any request ("notDetermined" by default),
//   "authorization_after_request": the status once the user answered,
//   "locales": { "<id>": { "status": "unsupported" | "supported" | "downloading" | "installed",
//                          "request_fails": "<description>",
//                          "install": { "progress": [fractions], "interval_ms": 250,
//                                       "fails": "<description>" } } },
//   "equivalents": { "<id>": "<supported id>" },
//   "audio": { "<file name>": { "unreadable": "<description>",
//                               "results": [ {"text", "start", "end"} ],
//                               "fails": "<description, after the results>" } }.
// Audio files are matched by file name and must exist; a file the script does
// not name holds no speech. Installations move through their fractions on the
// run loop, one step per interval, and end one interval after the last.

namespace nolari::platform {

class SimSpeech : public Speech {
 public:
  SimSpeech(RunLoop& runLoop, nlohmann::json script);

  SpeechAuthorization authorizationStatus() override;
  void requestAuthorization(std::function<void()> completion) override;
  std::vector<std::string> supportedLocales() override;
  std::optional<std::string> supportedLocaleEquivalentTo(const std::string& localeId) override;
  SpeechAssetStatus assetStatus(const std::string& localeId) override;
  std::unique_ptr<AssetInstallation> assetInstallationRequest(const std::string& localeId,
                                                              std::string& error) override;
  std::unique_ptr<SpeechAudioFile> openAudioFile(const std::string& path,
                                                 std::string& error) override;
  std::optional<std::string> analyze(SpeechAudioFile& file, const std::string& localeId,
                                     const std::vector<std::string>& contextualStrings,
                                     const ResultHandler& onResult) override;

  // What the last analysis was asked for.
  std::string lastLocale() const;
  std::vector<std::string> lastContextualStrings() const;

 private:
  friend class SimAssetInstallation;
  void setLocaleStatus(const std::string& localeId, const std::string& status);

  RunLoop& runLoop_;
  mutable std::mutex mutex_;
  nlohmann::json script_;
  std::string lastLocale_;
  std::vector<std::string> lastContextualStrings_;
};

}  // namespace nolari::platform

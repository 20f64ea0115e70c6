#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "platform/Speech.h"

// Speech on the on-device pocketsphinx engine with its US English model. Audio
// files are read with libsndfile and resampled to the model's 16 kHz.

namespace nolari::platform {

class PocketSpeech : public Speech {
 public:
  // The directory holding the acoustic model ("en-us"), the language model
  // ("en-us.lm.bin") and the dictionary ("cmudict-en-us.dict").
  static constexpr const char* DEFAULT_MODEL_DIR = "/usr/share/pocketsphinx/model/en-us";

  explicit PocketSpeech(std::string modelDir = DEFAULT_MODEL_DIR);
  ~PocketSpeech() override;

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
  void prepare(const std::string& localeId) override;

 private:
  class Engine;
  bool modelPresent() const;
  // The engine loaded, or loaded afresh when it is full. Holds `engineMutex_`.
  // Returns what failed.
  std::optional<std::string> loadEngine();

  std::string modelDir_;
  // The engine loads when the program prepares it, after start-up, or else on
  // the first analysis: loading takes about a second.
  std::mutex engineMutex_;
  std::unique_ptr<Engine> engine_;
};

}  // namespace nolari::platform

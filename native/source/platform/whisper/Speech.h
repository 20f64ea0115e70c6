#pragma once

#include <sys/types.h>

#include <ctime>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/Speech.h"
#include "platform/whisper/ModelFile.h"

struct whisper_context;

// Speech on whisper.cpp, with a model file the user brings (the legacy ggml
// format whisper.cpp's own models come in). The file is checked before the
// engine reads it and loaded ahead, when the program prepares the engine, or
// on the first analysis; while it is missing or
// invalid every analysis fails with what is wrong, and a changed file is tried
// again.

namespace nolari::platform {

class WhisperSpeech : public Speech {
 public:
  // `threads`: how many threads one analysis computes on.
  WhisperSpeech(std::string modelPath, int threads);
  ~WhisperSpeech() override;
  WhisperSpeech(const WhisperSpeech&) = delete;
  WhisperSpeech& operator=(const WhisperSpeech&) = delete;

  // A sane thread count for this machine.
  static int defaultThreads();

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
  // Loads the model file, when it is there and sound.
  void prepare(const std::string& localeId) override;

 private:
  // Which version of the file a check or a load was made on.
  struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    bool operator==(const FileIdentity& other) const;
  };
  struct Check {
    FileIdentity identity;
    std::optional<std::string> failure;
    WhisperModelFacts facts;
  };

  // The model file checked, or checked again when it changed since; with
  // `load`, also loaded into the engine. Holds `mutex_`. Returns what is wrong.
  std::optional<std::string> checkModel(bool load);
  // The language a locale names in the model ("en" for "en-US"), if it knows it.
  std::optional<std::string> languageOf(const std::string& localeId);

  std::string modelPath_;
  int threads_;
  std::mutex mutex_;
  std::optional<Check> check_;
  whisper_context* context_ = nullptr;
  FileIdentity loaded_;
};

}  // namespace nolari::platform

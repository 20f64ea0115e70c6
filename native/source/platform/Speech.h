#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// On-device speech recognition: the user's permission, the languages the
// recogniser knows and the assets each one needs, and an analyser that reads
// one audio file to its end.

namespace nolari::platform {

// The raw values are the platform's own.
enum class SpeechAuthorization { notDetermined = 0, denied = 1, restricted = 2, authorized = 3 };

enum class SpeechAssetStatus { unsupported, supported, downloading, installed };

// How far an asset installation has come. Read from the main queue while the
// installation runs.
class AssetProgress {
 public:
  virtual ~AssetProgress() = default;
  virtual double fractionCompleted() const = 0;
  virtual bool isFinished() const = 0;
  virtual bool isCancelled() const = 0;
};

// One pending download and installation of a locale's assets.
class AssetInstallation {
 public:
  virtual ~AssetInstallation() = default;
  virtual std::shared_ptr<AssetProgress> progress() = 0;
  // Starts the download; `completion` runs once, on any thread, with nothing on
  // success or the description of what failed.
  using Completion = std::function<void(const std::optional<std::string>& failure)>;
  virtual void downloadAndInstall(Completion completion) = 0;
};

// An audio file opened for reading; only the backend that opened it reads it.
class SpeechAudioFile {
 public:
  virtual ~SpeechAudioFile() = default;
};

// One recognised stretch of speech, times in seconds from the start of the audio.
struct SpeechResult {
  std::string text;
  double start = 0;
  double end = 0;
};

class Speech {
 public:
  virtual ~Speech() = default;

  virtual SpeechAuthorization authorizationStatus() = 0;
  // Asks the user; `completion` runs once the user answered (at once when the
  // question was answered before), on any thread.
  virtual void requestAuthorization(std::function<void()> completion) = 0;

  // Locale identifiers such as "en-US".
  virtual std::vector<std::string> supportedLocales() = 0;
  virtual std::optional<std::string> supportedLocaleEquivalentTo(const std::string& localeId) = 0;

  virtual SpeechAssetStatus assetStatus(const std::string& localeId) = 0;
  // Nothing when nothing needs installing. Fails (null with `error` set) when
  // the locale's assets cannot be had.
  virtual std::unique_ptr<AssetInstallation> assetInstallationRequest(const std::string& localeId,
                                                                      std::string& error) = 0;

  // Null with `error` set when the file holds no audio this backend can read.
  virtual std::unique_ptr<SpeechAudioFile> openAudioFile(const std::string& path,
                                                         std::string& error) = 0;

  // Reads `file` to its end with a recogniser for `localeId`, biased toward
  // `contextualStrings`, and hands each result to `onResult` in order, on the
  // calling thread. Returns the description of a failure, or nothing.
  using ResultHandler = std::function<void(const SpeechResult&)>;
  virtual std::optional<std::string> analyze(SpeechAudioFile& file, const std::string& localeId,
                                             const std::vector<std::string>& contextualStrings,
                                             const ResultHandler& onResult) = 0;

  // Makes the recogniser for `localeId` ready ahead of the first analysis: a
  // model loaded, its pages touched. May take seconds; runs on any thread, and
  // an analysis that comes meanwhile waits for it. Nothing to do by default.
  virtual void prepare(const std::string& localeId) { (void)localeId; }
};

}  // namespace nolari::platform

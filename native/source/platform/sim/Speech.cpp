#include "platform/sim/Speech.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>

#include "base/FileInput.h"

namespace nolari::platform {

namespace {

SpeechAuthorization authorizationNamed(const nlohmann::json& value) {
  if (value == "authorized") return SpeechAuthorization::authorized;
  if (value == "denied") return SpeechAuthorization::denied;
  if (value == "restricted") return SpeechAuthorization::restricted;
  return SpeechAuthorization::notDetermined;
}

std::string stringOr(const nlohmann::json& object, const char* key, const std::string& fallback) {
  if (object.is_object() && object.contains(key) && object[key].is_string())
    return object[key].get<std::string>();
  return fallback;
}

class SimAudioFile : public SpeechAudioFile {
 public:
  explicit SimAudioFile(std::string name) : name(std::move(name)) {}
  std::string name;
};

class SimAssetProgress : public AssetProgress {
 public:
  double fractionCompleted() const override { return fraction.load(); }
  bool isFinished() const override { return finished.load(); }
  bool isCancelled() const override { return cancelled.load(); }

  std::atomic<double> fraction{0};
  std::atomic<bool> finished{false};
  std::atomic<bool> cancelled{false};
};

}  // namespace

class SimAssetInstallation : public AssetInstallation {
 public:
  SimAssetInstallation(SimSpeech& speech, std::string localeId, nlohmann::json install)
      : speech_(speech),
        localeId_(std::move(localeId)),
        install_(std::move(install)),
        progress_(std::make_shared<SimAssetProgress>()) {}

  std::shared_ptr<AssetProgress> progress() override { return progress_; }

  void downloadAndInstall(Completion completion) override {
    std::vector<double> steps;
    if (install_.contains("progress") && install_["progress"].is_array()) {
      for (const auto& step : install_["progress"]) {
        if (step.is_number()) steps.push_back(step.get<double>());
      }
    }
    auto interval = std::chrono::milliseconds(install_.value("interval_ms", 250));
    std::string failure = stringOr(install_, "fails", "");
    speech_.setLocaleStatus(localeId_, "downloading");
    // The first fraction holds from the start, each next one from one interval later.
    if (!steps.empty()) progress_->fraction = steps.front();
    for (size_t i = 1; i < steps.size(); ++i) {
      speech_.runLoop_.postAfter(
          interval * static_cast<int>(i),
          [progress = progress_, fraction = steps[i]] { progress->fraction = fraction; });
    }
    speech_.runLoop_.postAfter(
        interval * static_cast<int>(steps.size()),
        [speech = &speech_, localeId = localeId_, failure, completion, progress = progress_] {
          if (failure.empty()) {
            progress->fraction = 1.0;
            progress->finished = true;
            speech->setLocaleStatus(localeId, "installed");
            completion(std::nullopt);
          } else {
            speech->setLocaleStatus(localeId, "supported");
            completion(failure);
          }
        });
  }

 private:
  SimSpeech& speech_;
  std::string localeId_;
  nlohmann::json install_;
  std::shared_ptr<SimAssetProgress> progress_;
};

SimSpeech::SimSpeech(RunLoop& runLoop, nlohmann::json script)
    : runLoop_(runLoop), script_(std::move(script)) {
  if (!script_.is_object()) script_ = nlohmann::json::object();
}

SpeechAuthorization SimSpeech::authorizationStatus() {
  std::lock_guard lock(mutex_);
  return authorizationNamed(script_.value("authorization", nlohmann::json("notDetermined")));
}

void SimSpeech::requestAuthorization(std::function<void()> completion) {
  {
    std::lock_guard lock(mutex_);
    if (script_.contains("authorization_after_request")) {
      script_["authorization"] = script_["authorization_after_request"];
    }
  }
  runLoop_.post(std::move(completion));
}

std::vector<std::string> SimSpeech::supportedLocales() {
  std::lock_guard lock(mutex_);
  std::vector<std::string> locales;
  if (script_.contains("locales") && script_["locales"].is_object()) {
    for (const auto& [id, entry] : script_["locales"].items()) {
      if (stringOr(entry, "status", "unsupported") != "unsupported") locales.push_back(id);
    }
  }
  return locales;
}

std::optional<std::string> SimSpeech::supportedLocaleEquivalentTo(const std::string& localeId) {
  std::string equivalent;
  {
    std::lock_guard lock(mutex_);
    if (!script_.contains("equivalents")) return std::nullopt;
    equivalent = stringOr(script_["equivalents"], localeId.c_str(), "");
  }
  if (equivalent.empty()) return std::nullopt;
  auto supported = supportedLocales();
  if (std::find(supported.begin(), supported.end(), equivalent) == supported.end())
    return std::nullopt;
  return equivalent;
}

SpeechAssetStatus SimSpeech::assetStatus(const std::string& localeId) {
  std::lock_guard lock(mutex_);
  std::string status = "unsupported";
  if (script_.contains("locales") && script_["locales"].contains(localeId)) {
    status = stringOr(script_["locales"][localeId], "status", "unsupported");
  }
  if (status == "supported") return SpeechAssetStatus::supported;
  if (status == "downloading") return SpeechAssetStatus::downloading;
  if (status == "installed") return SpeechAssetStatus::installed;
  return SpeechAssetStatus::unsupported;
}

std::unique_ptr<AssetInstallation> SimSpeech::assetInstallationRequest(const std::string& localeId,
                                                                       std::string& error) {
  std::lock_guard lock(mutex_);
  nlohmann::json entry;
  if (script_.contains("locales") && script_["locales"].contains(localeId))
    entry = script_["locales"][localeId];
  std::string status = stringOr(entry, "status", "unsupported");
  std::string refusal = stringOr(entry, "request_fails", "");
  if (!refusal.empty()) {
    error = refusal;
    return nullptr;
  }
  if (status == "unsupported") {
    error = "locale " + localeId + " has no assets to install";
    return nullptr;
  }
  if (status == "installed") return nullptr;
  nlohmann::json install = entry.contains("install") && entry["install"].is_object()
                               ? entry["install"]
                               : nlohmann::json::object();
  return std::make_unique<SimAssetInstallation>(*this, localeId, install);
}

void SimSpeech::setLocaleStatus(const std::string& localeId, const std::string& status) {
  std::lock_guard lock(mutex_);
  script_["locales"][localeId]["status"] = status;
}

std::unique_ptr<SpeechAudioFile> SimSpeech::openAudioFile(const std::string& path,
                                                          std::string& error) {
  const int fd = FileInput::openRegularFileAs(path, "an audio file", error);
  if (fd < 0) return nullptr;
  ::close(fd);
  std::string name = std::filesystem::path(path).filename().string();
  std::lock_guard lock(mutex_);
  if (script_.contains("audio") && script_["audio"].contains(name)) {
    std::string unreadable = stringOr(script_["audio"][name], "unreadable", "");
    if (!unreadable.empty()) {
      error = unreadable;
      return nullptr;
    }
  }
  return std::make_unique<SimAudioFile>(name);
}

std::optional<std::string> SimSpeech::analyze(SpeechAudioFile& file, const std::string& localeId,
                                              const std::vector<std::string>& contextualStrings,
                                              const ResultHandler& onResult) {
  nlohmann::json entry;
  {
    std::lock_guard lock(mutex_);
    lastLocale_ = localeId;
    lastContextualStrings_ = contextualStrings;
    const std::string& name = static_cast<SimAudioFile&>(file).name;
    if (script_.contains("audio") && script_["audio"].contains(name))
      entry = script_["audio"][name];
  }
  if (entry.contains("results") && entry["results"].is_array()) {
    for (const auto& r : entry["results"]) {
      if (!r.is_object()) continue;
      onResult({stringOr(r, "text", ""), r.value("start", 0.0), r.value("end", 0.0)});
    }
  }
  std::string failure = stringOr(entry, "fails", "");
  if (!failure.empty()) return failure;
  return std::nullopt;
}

std::string SimSpeech::lastLocale() const {
  std::lock_guard lock(mutex_);
  return lastLocale_;
}

std::vector<std::string> SimSpeech::lastContextualStrings() const {
  std::lock_guard lock(mutex_);
  return lastContextualStrings_;
}

}  // namespace nolari::platform

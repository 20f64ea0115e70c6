#include "sondra/AssetManager.h"

#include <memory>

namespace nolari::sondra::AssetManager {

namespace {

// One installation's progress task, touched on the main queue only.
struct ProgressTask {
  std::shared_ptr<platform::AssetProgress> progress;
  std::shared_ptr<platform::WorkItem> pending;
  bool cancelled = false;
};

nlohmann::json progressLine(const std::string& requestId, const std::string& localeId, double fraction) {
  return {{"type", "asset_progress"}, {"id", requestId}, {"progress", fraction}, {"locale", localeId}};
}

nlohmann::json errorLine(const std::string& requestId, const std::string& localeId, const std::string& message) {
  return {{"type", "asset_error"}, {"id", requestId}, {"locale", localeId}, {"message", message}};
}

void tick(platform::RunLoop& runLoop, std::shared_ptr<ProgressTask> task, const std::string& requestId,
          const std::string& localeId, const Emit& emit) {
  if (task->cancelled || task->progress->isFinished() || task->progress->isCancelled()) return;
  emit(progressLine(requestId, localeId, task->progress->fractionCompleted()));
  task->pending = runLoop.postAfter(PROGRESS_INTERVAL, [&runLoop, task, requestId, localeId, emit] {
    tick(runLoop, task, requestId, localeId, emit);
  });
}

void stop(ProgressTask& task) {
  task.cancelled = true;
  if (task.pending) task.pending->cancel();
}

}  // namespace

std::string authorizationStatus(platform::Speech& speech) {
  switch (speech.authorizationStatus()) {
    case platform::SpeechAuthorization::authorized:
      return "authorized";
    case platform::SpeechAuthorization::restricted:
      return "restricted";
    case platform::SpeechAuthorization::denied:
      return "denied";
    default:
      return "notDetermined";
  }
}

void requestAuthorization(platform::Speech& speech, std::function<void(const std::string&)> completion) {
  // The status handed over by the platform is not trusted: it is read anew.
  speech.requestAuthorization([&speech, completion = std::move(completion)] { completion(authorizationStatus(speech)); });
}

std::string localeAssetStatus(platform::Speech& speech, const std::string& localeId) {
  switch (speech.assetStatus(localeId)) {
    case platform::SpeechAssetStatus::supported:
      return "supported";
    case platform::SpeechAssetStatus::downloading:
      return "downloading";
    case platform::SpeechAssetStatus::installed:
      return "installed";
    default:
      return "unsupported";
  }
}

void installLocaleAsset(platform::Speech& speech, platform::RunLoop& runLoop, const std::string& localeId,
                        const std::string& requestId, Emit emit, std::function<void()> completion) {
  std::string error;
  std::shared_ptr<platform::AssetInstallation> installation = speech.assetInstallationRequest(localeId, error);
  if (!installation) {
    if (!error.empty()) emit(errorLine(requestId, localeId, error));
    runLoop.post(std::move(completion));
    return;
  }
  auto task = std::make_shared<ProgressTask>();
  task->progress = installation->progress();
  // The first progress line goes out at once.
  runLoop.post([&runLoop, task, requestId, localeId, emit] { tick(runLoop, task, requestId, localeId, emit); });
  installation->downloadAndInstall([&runLoop, installation, task, requestId, localeId, emit,
                                    completion](const std::optional<std::string>& failure) {
    runLoop.post([task, requestId, localeId, emit, completion, failure] {
      // Stopped on failure too, so that no progress line follows the response.
      stop(*task);
      if (failure) {
        emit(errorLine(requestId, localeId, *failure));
      } else {
        emit(progressLine(requestId, localeId, 1.0));
      }
      completion();
    });
  });
}

}  // namespace nolari::sondra::AssetManager

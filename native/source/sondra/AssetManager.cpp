#include "sondra/AssetManager.h"

#include <memory>
#include <mutex>

namespace nolari::sondra::AssetManager {

namespace {

// One installation's progress task. Its ticks run on the main queue and the
// installation may end on any thread: the lock makes sure that no progress line
// follows the end.
struct ProgressTask {
  std::mutex mutex;
  std::shared_ptr<platform::AssetProgress> progress;
  std::shared_ptr<platform::WorkItem> pending;
  bool cancelled = false;
};

nlohmann::json progressLine(const std::string& requestId, const std::string& localeId,
                            double fraction) {
  return {
      {"type", "asset_progress"}, {"id", requestId}, {"progress", fraction}, {"locale", localeId}};
}

nlohmann::json errorLine(const std::string& requestId, const std::string& localeId,
                         const std::string& message) {
  return {{"type", "asset_error"}, {"id", requestId}, {"locale", localeId}, {"message", message}};
}

void tick(platform::RunLoop& runLoop, const std::shared_ptr<ProgressTask>& task,
          const std::string& requestId, const std::string& localeId, LineSink& sink) {
  std::lock_guard lock(task->mutex);
  if (task->cancelled || task->progress->isFinished() || task->progress->isCancelled()) return;
  sink.emit(progressLine(requestId, localeId, task->progress->fractionCompleted()));
  task->pending =
      runLoop.postAfter(PROGRESS_INTERVAL, [&runLoop, task, requestId, localeId, &sink] {
        tick(runLoop, task, requestId, localeId, sink);
      });
}

// Called with the task's lock held.
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

void requestAuthorization(platform::Speech& speech,
                          std::function<void(const std::string&)> completion) {
  // The status handed over by the platform is not trusted: it is read anew.
  speech.requestAuthorization(
      [&speech, completion = std::move(completion)] { completion(authorizationStatus(speech)); });
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

void installLocaleAsset(platform::Speech& speech, platform::RunLoop& runLoop,
                        const std::string& localeId, const std::string& requestId, LineSink& sink,
                        std::function<void()> completion) {
  std::string error;
  std::shared_ptr<platform::AssetInstallation> installation =
      speech.assetInstallationRequest(localeId, error);
  if (!installation) {
    if (!error.empty()) sink.emit(errorLine(requestId, localeId, error));
    completion();
    return;
  }
  auto task = std::make_shared<ProgressTask>();
  task->progress = installation->progress();
  // The first progress line goes out at once.
  runLoop.post([&runLoop, task, requestId, localeId, &sink] {
    tick(runLoop, task, requestId, localeId, sink);
  });
  installation->downloadAndInstall(
      [installation, task, requestId, localeId, &sink,
       completion = std::move(completion)](const std::optional<std::string>& failure) {
        {
          std::lock_guard lock(task->mutex);
          // Stopped on failure too, so that no progress line follows the response.
          stop(*task);
          if (failure) {
            sink.emit(errorLine(requestId, localeId, *failure));
          } else {
            sink.emit(progressLine(requestId, localeId, 1.0));
          }
        }
        completion();
      });
}

}  // namespace nolari::sondra::AssetManager

#include "sondra/RequestHandler.h"

#include <exception>

#include "base/TextEncoding.h"
#include "sondra/AssetManager.h"
#include "sondra/SpeechAnalyzerWorker.h"

namespace nolari::sondra {

namespace {

constexpr const char* DEFAULT_LOCALE = "en-US";

}  // namespace

const std::vector<std::string>& RequestHandler::supportedOps() {
  static const std::vector<std::string> ops = {"transcribe",         "check-permission",
                                               "request-permission", "check-locale",
                                               "install-locale",     "ping"};
  return ops;
}

nlohmann::json RequestHandler::startupLine() {
  return {{"type", "status"}, {"event", "startup"}, {"ready", true}, {"supports", supportedOps()}};
}

RequestHandler::RequestHandler(platform::Speech& speech, platform::RunLoop& runLoop, LineSink& sink)
    : speech_(speech), runLoop_(runLoop), sink_(sink) {
  operations_ = {{"ping", &RequestHandler::ping},
                 {"check-permission", &RequestHandler::checkPermission},
                 {"request-permission", &RequestHandler::requestPermission},
                 {"check-locale", &RequestHandler::checkLocale},
                 {"install-locale", &RequestHandler::installLocale},
                 {"transcribe", &RequestHandler::transcribe}};
}

void RequestHandler::handle(std::string_view line, const Done& done) {
  // Bytes that are not UTF-8 are replaced, as the platform's text reading does,
  // so that a stray byte inside a string value still leaves a decodable line.
  auto request = TranscribeRequest::decode(TextEncoding::repairUTF8(line));
  if (!request) {
    respondError(nullptr, "bad_request", "unparseable JSON");
    done();
    return;
  }
  auto operation = operations_.find(request->op);
  if (operation == operations_.end()) {
    respondError(&request->id, "unknown_op", "unknown op " + request->op);
    done();
    return;
  }
  (this->*operation->second)(*request, done);
}

void RequestHandler::ping(const TranscribeRequest& request, const Done& done) {
  respondOk(request, {{"pong", true}});
  done();
}

void RequestHandler::checkPermission(const TranscribeRequest& request, const Done& done) {
  respondOk(request, {{"authorization", AssetManager::authorizationStatus(speech_)}});
  done();
}

void RequestHandler::requestPermission(const TranscribeRequest& request, const Done& done) {
  AssetManager::requestAuthorization(speech_, [this, request, done](const std::string& status) {
    respondOk(request, {{"authorization", status}});
    done();
  });
}

void RequestHandler::checkLocale(const TranscribeRequest& request, const Done& done) {
  std::string locale = request.locale.value_or(DEFAULT_LOCALE);
  std::string status = AssetManager::localeAssetStatus(speech_, locale);
  respondOk(request,
            {{"locale", locale}, {"asset_status", status}, {"ready", status == "installed"}});
  done();
}

void RequestHandler::installLocale(const TranscribeRequest& request, const Done& done) {
  std::string locale = request.locale.value_or(DEFAULT_LOCALE);
  AssetManager::installLocaleAsset(speech_, runLoop_, locale, request.id, sink_,
                                   [this, request, locale, done] {
                                     respondOk(request, {{"locale", locale}, {"installed", true}});
                                     done();
                                   });
}

void RequestHandler::transcribe(const TranscribeRequest& request, const Done& done) {
  if (AssetManager::authorizationStatus(speech_) != "authorized") {
    respondError(&request.id, "permission_denied", "Speech Recognition not authorized");
  } else if (!request.audio_path) {
    respondError(&request.id, "bad_request", "audio_path required");
  } else {
    try {
      auto outcome = SpeechAnalyzerWorker::transcribe(
          speech_, runLoop_, *request.audio_path, request.locale.value_or(DEFAULT_LOCALE),
          request.contextual_strings.value_or(std::vector<std::string>{}));
      if (auto* error = std::get_if<TranscribeError>(&outcome)) {
        respondError(&request.id, error->code(), error->message);
      } else {
        std::string encodingError;
        auto members = std::get<TranscribeResponse>(outcome).encode(encodingError);
        if (members) {
          respondOk(request, std::move(*members));
        } else {
          respondError(&request.id, "analyzer_failed", encodingError);
        }
      }
    } catch (const std::exception& e) {
      respondError(&request.id, "analyzer_failed", e.what());
    }
  }
  done();
}

void RequestHandler::respondOk(const TranscribeRequest& request, nlohmann::json members) {
  members["id"] = request.id;
  members["type"] = "response";
  members["status"] = "ok";
  sink_.emit(members);
}

void RequestHandler::respondError(const std::string* id, const std::string& code,
                                  const std::string& message) {
  nlohmann::json line = {
      {"type", "response"}, {"status", "error"}, {"code", code}, {"message", message}};
  if (id) line["id"] = *id;
  sink_.emit(line);
}

}  // namespace nolari::sondra

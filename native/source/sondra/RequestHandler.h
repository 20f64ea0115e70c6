#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "base/LineSink.h"
#include "platform/RunLoop.h"
#include "platform/Speech.h"
#include "sondra/TranscribeRequest.h"

// Decodes one request line and runs its operation; each operation writes its
// own lines to the sink and says when it is over through `Done`.

namespace nolari::sondra {

class RequestHandler {
 public:
  using Done = std::function<void()>;

  // The operations, in the order the start-up line lists them.
  static const std::vector<std::string>& supportedOps();
  static nlohmann::json startupLine();

  RequestHandler(platform::Speech& speech, platform::RunLoop& runLoop, LineSink& sink);

  // `done` runs exactly once, on any thread, when every line of the request has
  // been written.
  void handle(std::string_view line, const Done& done);

 private:
  using Operation = void (RequestHandler::*)(const TranscribeRequest&, const Done&);

  void ping(const TranscribeRequest& request, const Done& done);
  void checkPermission(const TranscribeRequest& request, const Done& done);
  void requestPermission(const TranscribeRequest& request, const Done& done);
  void checkLocale(const TranscribeRequest& request, const Done& done);
  void installLocale(const TranscribeRequest& request, const Done& done);
  void transcribe(const TranscribeRequest& request, const Done& done);

  void respondOk(const TranscribeRequest& request, nlohmann::json members);
  void respondError(const std::string* id, const std::string& code, const std::string& message);

  platform::Speech& speech_;
  platform::RunLoop& runLoop_;
  LineSink& sink_;
  std::map<std::string, Operation, std::less<>> operations_;
};

}  // namespace nolari::sondra

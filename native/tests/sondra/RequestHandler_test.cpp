#include "sondra/RequestHandler.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

#include "platform/sim/Speech.h"
#include "support/RecordingSink.h"
#include "support/TempDir.h"
#include "support/VirtualRunLoop.h"

using namespace std::chrono_literals;
using nlohmann::json;
using nolari::platform::SimSpeech;
using nolari::platform::VirtualRunLoop;
using nolari::sondra::RequestHandler;

namespace {

// A worker on scripted speech and virtual time that records every line written.
class Worker {
 public:
  explicit Worker(json script) : speech(loop, std::move(script)), handler(speech, loop, sink) {}

  // Sends one line and runs virtual time until the request is over; the lines
  // written meanwhile are returned and forgotten.
  std::vector<json> send(const std::string& line, std::chrono::milliseconds limit = 10s) {
    bool done = false;
    handler.handle(line, [&] { done = true; });
    for (auto waited = 0ms; !done && waited < limit; waited += 10ms) loop.advance(10ms);
    EXPECT_TRUE(done) << "request not finished: " << line;
    auto out = sink.objects();
    sink.clear();
    return out;
  }

  json one(const std::string& line) {
    auto out = send(line);
    EXPECT_EQ(out.size(), 1u) << line;
    return out.empty() ? json() : out.front();
  }

  std::string file(const std::string& name) {
    std::string path = dir.file(name);
    std::ofstream(path) << "audio";
    return path;
  }

  nolari::test::TempDir dir;
  VirtualRunLoop loop;
  SimSpeech speech;
  nolari::test::RecordingSink sink;
  RequestHandler handler;
};

json authorizedScript() {
  return {{"authorization", "authorized"},
          {"locales", {{"en-US", {{"status", "installed"}}}, {"fr-FR", {{"status", "supported"}}}}},
          {"equivalents", {{"en_US", "en-US"}}},
          {"audio",
           {{"three.wav",
             {{"results", json::array({{{"text", "open"}, {"start", 0.5}, {"end", 0.9}},
                                       {{"text", "the"}, {"start", 1.5}, {"end", 1.7}},
                                       {{"text", "door"}, {"start", 2.5}, {"end", 2.9}}})}}},
            {"notes.txt", {{"unreadable", "not an audio file"}}},
            {"breaks.wav",
             {{"results", json::array({{{"text", "half"}, {"start", 0.0}, {"end", 0.4}}})},
              {"fails", "decoder gave up"}}}}}};
}

json errorLine(const std::string& id, const std::string& code, const std::string& message) {
  return {
      {"id", id}, {"type", "response"}, {"status", "error"}, {"code", code}, {"message", message}};
}

const json UNPARSEABLE = {{"type", "response"},
                          {"status", "error"},
                          {"code", "bad_request"},
                          {"message", "unparseable JSON"}};

}  // namespace

TEST(SondraRequests, StartupLineListsTheSixOperationsInOrder) {
  EXPECT_EQ(RequestHandler::startupLine(),
            json({{"type", "status"},
                  {"event", "startup"},
                  {"ready", true},
                  {"supports",
                   {"transcribe", "check-permission", "request-permission", "check-locale",
                    "install-locale", "ping"}}}));
}

TEST(SondraRequests, UndecodableLinesAreAnsweredWithoutId) {
  Worker worker(authorizedScript());
  for (const char* line :
       {"{}", "not json", "[1,2]", "\"ping\"", R"({"id":"1"})", R"({"op":"ping"})",
        R"({"id":1,"op":"ping"})", R"({"id":"1","op":null})", R"({"id":null,"op":"ping"})",
        R"({"id":"1","op":"ping","audio_path":5})", R"({"id":"1","op":"ping","locale":true})",
        R"({"id":"1","op":"ping","contextual_strings":"a"})",
        R"({"id":"1","op":"ping","contextual_strings":["a",2]})", R"({"id":"1","op":"ping"} x)",
        ""}) {
    EXPECT_EQ(worker.one(line), UNPARSEABLE) << line;
  }
}

TEST(SondraRequests, NullOptionalMembersAndUnknownMembersAreAccepted) {
  Worker worker(authorizedScript());
  EXPECT_EQ(
      worker.one(
          R"({"id":"a","op":"check-locale","locale":null,"extra":[1,{"x":2}],"audio_path":null})"),
      json({{"id", "a"},
            {"type", "response"},
            {"status", "ok"},
            {"locale", "en-US"},
            {"asset_status", "installed"},
            {"ready", true}}));
}

TEST(SondraRequests, InvalidUTF8InsideAStringIsRepairedNotRejected) {
  Worker worker(authorizedScript());
  json reply = worker.one("{\"id\":\"a\xff\",\"op\":\"ping\"}");
  EXPECT_EQ(reply["id"], "a\xEF\xBF\xBD");
  EXPECT_EQ(reply["pong"], true);
}

TEST(SondraRequests, OperationNamesAreCaseSensitive) {
  Worker worker(authorizedScript());
  EXPECT_EQ(worker.one(R"({"id":"7","op":"PING"})"),
            errorLine("7", "unknown_op", "unknown op PING"));
  EXPECT_EQ(worker.one(R"({"id":"8","op":""})"), errorLine("8", "unknown_op", "unknown op "));
}

TEST(SondraRequests, PingAndPermission) {
  json script = authorizedScript();
  script["authorization"] = "notDetermined";
  script["authorization_after_request"] = "denied";
  Worker worker(script);
  EXPECT_EQ(worker.one(R"({"id":"p","op":"ping"})"),
            json({{"id", "p"}, {"type", "response"}, {"status", "ok"}, {"pong", true}}));
  EXPECT_EQ(worker.one(R"({"id":"c","op":"check-permission"})")["authorization"], "notDetermined");
  EXPECT_EQ(
      worker.one(R"({"id":"r","op":"request-permission"})"),
      json({{"id", "r"}, {"type", "response"}, {"status", "ok"}, {"authorization", "denied"}}));
  EXPECT_EQ(worker.one(R"({"id":"c2","op":"check-permission"})")["authorization"], "denied");
}

TEST(SondraRequests, CheckLocaleReportsTheLocaleAsked) {
  Worker worker(authorizedScript());
  json fr = worker.one(R"({"id":"1","op":"check-locale","locale":"fr-FR"})");
  EXPECT_EQ(fr["locale"], "fr-FR");
  EXPECT_EQ(fr["asset_status"], "supported");
  EXPECT_EQ(fr["ready"], false);
  json unknown = worker.one(R"({"id":"2","op":"check-locale","locale":"xx-YY"})");
  EXPECT_EQ(unknown["asset_status"], "unsupported");
  EXPECT_EQ(unknown["ready"], false);
}

TEST(SondraTranscribe, RefusedWithoutPermissionEvenWithoutAudioPath) {
  for (const char* status : {"notDetermined", "denied", "restricted"}) {
    json script = authorizedScript();
    script["authorization"] = status;
    Worker worker(script);
    EXPECT_EQ(worker.one(R"({"id":"t","op":"transcribe"})"),
              errorLine("t", "permission_denied", "Speech Recognition not authorized"))
        << status;
  }
}

TEST(SondraTranscribe, ArgumentAndFileErrors) {
  Worker worker(authorizedScript());
  EXPECT_EQ(worker.one(R"({"id":"t","op":"transcribe"})"),
            errorLine("t", "bad_request", "audio_path required"));
  std::string missing = worker.dir.file("nothing.wav");
  EXPECT_EQ(worker.one(json({{"id", "t"}, {"op", "transcribe"}, {"audio_path", missing}}).dump()),
            errorLine("t", "audio_unreadable", "file not found: " + missing));
  // The file check comes before the locale check.
  EXPECT_EQ(
      worker.one(
          json({{"id", "t"}, {"op", "transcribe"}, {"audio_path", missing}, {"locale", "xx-YY"}})
              .dump())["code"],
      "audio_unreadable");
  EXPECT_EQ(
      worker.one(json({{"id", "t"}, {"op", "transcribe"}, {"audio_path", worker.file("notes.txt")}})
                     .dump()),
      errorLine("t", "audio_unreadable", "not an audio file"));
}

TEST(SondraTranscribe, LocaleMustBeSupportedOrHaveAnEquivalent) {
  Worker worker(authorizedScript());
  std::string audio = worker.file("three.wav");
  for (const char* locale : {"xx-YY", "", "de-DE"}) {
    EXPECT_EQ(
        worker.one(
            json({{"id", "t"}, {"op", "transcribe"}, {"audio_path", audio}, {"locale", locale}})
                .dump()),
        errorLine("t", "unsupported_locale",
                  std::string("locale ") + locale + " not supported on this Mac"));
  }
  // The equivalent only answers the check: recognition and the reply keep the locale asked for.
  json reply = worker.one(
      json({{"id", "t"}, {"op", "transcribe"}, {"audio_path", audio}, {"locale", "en_US"}}).dump());
  EXPECT_EQ(reply["status"], "ok");
  EXPECT_EQ(reply["locale"], "en_US");
  EXPECT_EQ(worker.speech.lastLocale(), "en_US");
}

TEST(SondraTranscribe, ResultsBecomeTextAndSegments) {
  Worker worker(authorizedScript());
  json reply = worker.one(json({{"id", "t"},
                                {"op", "transcribe"},
                                {"audio_path", worker.file("three.wav")},
                                {"contextual_strings", {"Zyxel", "door"}}})
                              .dump());
  EXPECT_EQ(reply["type"], "response");
  EXPECT_EQ(reply["status"], "ok");
  EXPECT_EQ(reply["id"], "t");
  EXPECT_EQ(reply["text"], "open the door");
  EXPECT_EQ(reply["locale"], "en-US");
  EXPECT_EQ(reply["segments"], json::parse(R"([{"text":"open","start":0.5,"end":0.9},
      {"text":"the","start":1.5,"end":1.7},{"text":"door","start":2.5,"end":2.9}])"));
  EXPECT_TRUE(reply["duration_ms"].is_number_integer());
  EXPECT_GE(reply["duration_ms"].get<int64_t>(), 0);
  EXPECT_EQ(worker.speech.lastContextualStrings(), (std::vector<std::string>{"Zyxel", "door"}));
}

TEST(SondraTranscribe, NoSpeechAndFailures) {
  Worker worker(authorizedScript());
  json silent = worker.one(
      json({{"id", "s"}, {"op", "transcribe"}, {"audio_path", worker.file("quiet.wav")}}).dump());
  EXPECT_EQ(silent["text"], "");
  EXPECT_EQ(silent["segments"], json::array());
  EXPECT_TRUE(worker.speech.lastContextualStrings().empty());
  EXPECT_EQ(worker.one(
                json({{"id", "f"}, {"op", "transcribe"}, {"audio_path", worker.file("breaks.wav")}})
                    .dump()),
            errorLine("f", "analyzer_failed", "decoder gave up"));
}

namespace {

json installScript(json install) {
  json script = authorizedScript();
  script["locales"]["de-DE"] = {{"status", "supported"}, {"install", std::move(install)}};
  return script;
}

json progressLine(double fraction) {
  return {{"type", "asset_progress"}, {"id", "i"}, {"progress", fraction}, {"locale", "de-DE"}};
}

const json INSTALLED = {
    {"id", "i"}, {"type", "response"}, {"status", "ok"}, {"locale", "de-DE"}, {"installed", true}};

}  // namespace

TEST(SondraInstall, ProgressEvery250msThenOneAndTheResponse) {
  // The fraction stays at 0.4 for two intervals: it is still written each time.
  Worker worker(installScript({{"progress", {0.0, 0.4, 0.4, 0.9}}, {"interval_ms", 250}}));
  bool done = false;
  worker.handler.handle(R"({"id":"i","op":"install-locale","locale":"de-DE"})",
                        [&] { done = true; });
  worker.loop.runUntilIdle();
  ASSERT_EQ(worker.sink.objects(), std::vector<json>{progressLine(0.0)});
  worker.loop.advance(249ms);
  EXPECT_EQ(worker.sink.lines().size(), 1u);
  worker.loop.advance(1ms);
  EXPECT_EQ(worker.sink.lines().size(), 2u);
  worker.loop.advance(2s);
  EXPECT_TRUE(done);
  EXPECT_EQ(worker.sink.objects(),
            (std::vector<json>{progressLine(0.0), progressLine(0.4), progressLine(0.4),
                               progressLine(0.9), progressLine(1.0), INSTALLED}));
  worker.sink.clear();
  EXPECT_EQ(worker.one(R"({"id":"c","op":"check-locale","locale":"de-DE"})")["asset_status"],
            "installed");
  // Already installed: nothing to download, no progress.
  EXPECT_EQ(worker.send(R"({"id":"i","op":"install-locale","locale":"de-DE"})"),
            std::vector<json>{INSTALLED});
}

TEST(SondraInstall, FailedDownloadEndsWithErrorThenInstalledResponse) {
  Worker worker(installScript(
      {{"progress", {0.1, 0.2}}, {"interval_ms", 250}, {"fails", "network unreachable"}}));
  auto lines = worker.send(R"({"id":"i","op":"install-locale","locale":"de-DE"})");
  EXPECT_EQ(lines, (std::vector<json>{progressLine(0.1),
                                      progressLine(0.2),
                                      {{"type", "asset_error"},
                                       {"id", "i"},
                                       {"locale", "de-DE"},
                                       {"message", "network unreachable"}},
                                      INSTALLED}));
  // No progress line trails the response.
  worker.loop.advance(2s);
  EXPECT_TRUE(worker.sink.lines().empty());
}

TEST(SondraInstall, RefusedRequestAndDefaultLocale) {
  json script = authorizedScript();
  script["locales"]["it-IT"] = {{"status", "supported"}, {"request_fails", "inventory refused"}};
  Worker worker(script);
  EXPECT_EQ(worker.send(R"({"id":"i","op":"install-locale","locale":"it-IT"})"),
            (std::vector<json>{{{"type", "asset_error"},
                                {"id", "i"},
                                {"locale", "it-IT"},
                                {"message", "inventory refused"}},
                               {{"id", "i"},
                                {"type", "response"},
                                {"status", "ok"},
                                {"locale", "it-IT"},
                                {"installed", true}}}));
  EXPECT_EQ(worker.send(R"({"id":"d","op":"install-locale"})"),
            (std::vector<json>{{{"id", "d"},
                                {"type", "response"},
                                {"status", "ok"},
                                {"locale", "en-US"},
                                {"installed", true}}}));
}

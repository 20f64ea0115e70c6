#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>

#include <nlohmann/json.hpp>

#include "SondraClient.h"
#include "support/TempDir.h"

// The whisper engine end to end, on a tiny model with random weights written
// by make_tiny_whisper_model.py: loading, segments, errors and memory. The
// model recognises nothing, so these tests never measure accuracy.

using nlohmann::json;
using nolari::test::ProcessOptions;
using nolari::test::RESIDENT_MEMORY_MEANINGFUL;
using nolari::test::TempDir;

namespace {

// Written by the tests' fixture; made here when the tests run on their own.
const std::string& tinyModel() {
  static const std::string path = [] {
    std::string model = NOLARI_TINY_WHISPER_MODEL;
    if (!std::filesystem::exists(model)) {
      std::string command = "/usr/bin/python3 '" NOLARI_TESTS_DIR
                            "/sondra/make_tiny_whisper_model.py' '" +
                            model + "'";
      EXPECT_EQ(std::system(command.c_str()), 0) << command;
    }
    return model;
  }();
  return path;
}

std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// One thread: the machine running the tests is often busy, and the engine's
// threads wait for each other by spinning.
nolari::test::SondraClient whisperSondra(const TempDir& dir, const std::string& model) {
  return nolari::test::SondraClient(dir, {{"NOLARI_SPEECH_ENGINE", "whisper"},
                                          {"NOLARI_SPEECH_MODEL", model},
                                          {"NOLARI_SPEECH_THREADS", "1"}});
}

#ifdef NOLARI_HAVE_WHISPER
#define SKIP_WITHOUT_WHISPER()
#else
#define SKIP_WITHOUT_WHISPER() \
  GTEST_SKIP() << "this build has no whisper engine (scripts/deps.sh builds its library)"
#endif

// A WAV of `text` spoken by flite at 16 kHz, or nothing when it cannot be made.
std::string spoken(const TempDir& dir, const std::string& text) {
  std::string speech = dir.file("speech.wav");
  std::string command = "flite -voice kal16 -t '";
  command += text;
  command += "' -o '";
  command += speech;
  command += "'";
  return std::system(command.c_str()) == 0 ? speech : std::string();
}

}  // namespace

TEST(WhisperEngine, TranscribesIntoSegmentsWithinTheAudioAndKeepsItsMemory) {
  SKIP_WITHOUT_WHISPER();
  TempDir dir;
  const std::string speech = spoken(dir, "Open the calendar.");
  ASSERT_FALSE(speech.empty());
  // 16-bit mono at 16 kHz after a 44-byte header.
  const double seconds = static_cast<double>(readAll(speech).size() - 44) / 2 / 16000;

  auto sondra = whisperSondra(dir, tinyModel());
  EXPECT_EQ(sondra.ask({{"id", "c"}, {"op", "check-locale"}, {"locale", "en_US"}})["asset_status"],
            "installed");
  json reply = sondra.transcribe(speech, {"calendar", "Siobhan Okonkwo", std::string("a\0b", 3)});
  ASSERT_EQ(reply["status"], "ok") << reply.dump();
  EXPECT_EQ(reply["locale"], "en-US");
  ASSERT_FALSE(reply["segments"].empty()) << reply.dump();
  std::string joined;
  double previousEnd = 0;
  for (const json& segment : reply["segments"]) {
    const double start = segment["start"].get<double>();
    const double end = segment["end"].get<double>();
    EXPECT_GE(start, previousEnd - 1e-9) << reply.dump();
    EXPECT_LE(start, end) << reply.dump();
    EXPECT_LE(end, seconds + 1e-6) << reply.dump();
    previousEnd = end;
    if (!joined.empty()) joined += ' ';
    joined += segment["text"].get<std::string>();
  }
  EXPECT_EQ(reply["text"], joined);

  const long afterFirst = sondra.residentKiB();
  for (int i = 0; i < 2; ++i) ASSERT_EQ(sondra.transcribe(speech)["status"], "ok");
  if (RESIDENT_MEMORY_MEANINGFUL) {
    EXPECT_LT(sondra.residentKiB() - afterFirst, 8 * 1024);
  }
  EXPECT_EQ(sondra.finish().exitStatus, 0);
}

TEST(WhisperEngine, BadModelIsAnsweredPerRequestAndAFixedOneIsLoaded) {
  SKIP_WITHOUT_WHISPER();
  TempDir dir;
  const std::string speech = spoken(dir, "Yes.");
  ASSERT_FALSE(speech.empty());
  const std::string good = readAll(tinyModel());
  // Where the vocabulary ends: past the magic, the header and the mel filters,
  // then a count and each token's length and bytes.
  std::size_t vocabularyEnd = 4 + 11 * 4 + 8 + 80 * 201 * 4;
  auto int32At = [&](std::size_t at) {
    std::int32_t v = 0;
    std::memcpy(&v, good.data() + at, 4);
    return v;
  };
  const std::int32_t tokens = int32At(vocabularyEnd);
  vocabularyEnd += 4;
  for (std::int32_t i = 0; i < tokens; ++i) vocabularyEnd += 4 + int32At(vocabularyEnd);

  const std::string model = dir.file("model.bin");
  auto sondra = whisperSondra(dir, model);
  const struct {
    const char* name;
    std::function<void()> make;
    const char* message;
  } cases[] = {
      {"missing", [] {}, " is not found"},
      {"cut in its header", [&] { std::ofstream(model) << good.substr(0, 30); },
       " is truncated: it ends in the header"},
      {"cut after its vocabulary", [&] { std::ofstream(model) << good.substr(0, vocabularyEnd); },
       " is truncated: it has no weights after its vocabulary"},
      {"cut in its weights", [&] { std::ofstream(model) << good.substr(0, good.size() - 1000); },
       " is truncated: it ends in the weights of tensor"},
      {"of another format", [&] { std::ofstream(model) << "RIFF" << good.substr(4); },
       " is not a whisper model file (bad magic)"},
      // The header's last field, the weights' type, which the engine would abort on.
      {"of an unknown weight type",
       [&] {
         std::ofstream(model) << good.substr(0, 44) << std::string("\x63\0\0\0", 4)
                              << good.substr(48);
       },
       " is not a valid whisper model: an unknown weight type 99"},
      {"a directory", [&] { std::filesystem::create_directory(model); }, " is a directory"},
      {"a FIFO", [&] { ASSERT_EQ(::mkfifo(model.c_str(), 0600), 0); }, " is not a regular file"},
  };
  for (const auto& c : cases) {
    std::filesystem::remove_all(model);
    c.make();
    json reply = sondra.transcribe(speech);
    EXPECT_EQ(reply["status"], "error") << c.name;
    EXPECT_EQ(reply["code"], "analyzer_failed") << c.name;
    EXPECT_TRUE(reply.value("message", "").starts_with("the whisper model " + model + c.message))
        << c.name << ": " << reply.dump();
    json locale = sondra.ask({{"id", "c"}, {"op", "check-locale"}, {"locale", "en-US"}});
    EXPECT_EQ(locale["asset_status"], "supported") << c.name;
    EXPECT_EQ(sondra.ask({{"id", "p"}, {"op", "ping"}})["pong"], true) << c.name;
  }
  // The file put right is loaded by the next request.
  std::filesystem::remove_all(model);
  std::filesystem::copy_file(tinyModel(), model);
  EXPECT_EQ(sondra.transcribe(speech)["status"], "ok");
  EXPECT_EQ(sondra.finish().exitStatus, 0);
}

TEST(WhisperEngine, ConfigurationErrorsStopTheProgramAtStart) {
  SKIP_WITHOUT_WHISPER();
  const struct {
    std::map<std::string, std::string> env;
    const char* message;
  } cases[] = {
      {{{"NOLARI_SPEECH_ENGINE", "whisper"}}, "needs NOLARI_SPEECH_MODEL"},
      {{{"NOLARI_SPEECH_ENGINE", "whisper"},
        {"NOLARI_SPEECH_MODEL", "m.bin"},
        {"NOLARI_SPEECH_THREADS", "0"}},
       "NOLARI_SPEECH_THREADS=0 is not a thread count"},
      {{{"NOLARI_SPEECH_ENGINE", "nonesuch"}},
       "NOLARI_SPEECH_ENGINE=nonesuch is not a known speech engine"},
  };
  for (const auto& c : cases) {
    ProcessOptions options;
    options.unsetEnv = {"NOLARI_PLATFORM", "NOLARI_SPEECH_SCRIPT", "NOLARI_SPEECH_MODEL"};
    options.env = c.env;
    auto result = nolari::test::runProcess(nolari::test::programPath("sondra"), options);
    EXPECT_NE(result.exitStatus, 0) << c.message;
    EXPECT_EQ(result.out, "") << c.message;
    EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
  }
}

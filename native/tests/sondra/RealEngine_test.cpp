#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include <nlohmann/json.hpp>

#include "SondraClient.h"
#include "support/TempDir.h"

// End to end on the on-device engine: speech made by the synthesiser, written
// to files and transcribed through the protocol.

using nlohmann::json;
using nolari::test::RESIDENT_MEMORY_MEANINGFUL;
using Sondra = nolari::test::SondraClient;
using nolari::test::TempDir;

namespace {

struct Pcm {
  int rate = 16000;
  int channels = 1;
  std::vector<int16_t> samples;  // interleaved
};

// The synthesiser writes plain 16-bit PCM; its "data" chunk is all we need.
Pcm readWav(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), {});
  Pcm pcm;
  auto u32 = [&](size_t at) {
    return static_cast<uint32_t>(
        static_cast<uint8_t>(bytes[at]) | static_cast<uint8_t>(bytes[at + 1]) << 8 |
        static_cast<uint8_t>(bytes[at + 2]) << 16 | static_cast<uint8_t>(bytes[at + 3]) << 24);
  };
  for (size_t at = 12; at + 8 <= bytes.size();) {
    std::string id = bytes.substr(at, 4);
    uint32_t size = u32(at + 4);
    if (id == "fmt ") {
      pcm.channels = static_cast<uint8_t>(bytes[at + 10]);
      pcm.rate = static_cast<int>(u32(at + 12));
    } else if (id == "data") {
      size = std::min<uint32_t>(size, static_cast<uint32_t>(bytes.size() - at - 8));
      pcm.samples.resize(size / 2);
      std::memcpy(pcm.samples.data(), bytes.data() + at + 8, pcm.samples.size() * 2);
    }
    at += 8 + size + (size & 1);
  }
  return pcm;
}

void writeWav(const std::string& path, const Pcm& pcm) {
  auto put32 = [](std::string& s, uint32_t v) {
    for (int i = 0; i < 4; ++i) s += static_cast<char>(v >> (8 * i) & 0xff);
  };
  auto put16 = [](std::string& s, uint16_t v) {
    s += static_cast<char>(v & 0xff);
    s += static_cast<char>(v >> 8);
  };
  uint32_t dataBytes = static_cast<uint32_t>(pcm.samples.size() * 2);
  std::string out = "RIFF";
  put32(out, 36 + dataBytes);
  out += "WAVEfmt ";
  put32(out, 16);
  put16(out, 1);
  put16(out, static_cast<uint16_t>(pcm.channels));
  put32(out, static_cast<uint32_t>(pcm.rate));
  put32(out, static_cast<uint32_t>(pcm.rate * pcm.channels * 2));
  put16(out, static_cast<uint16_t>(pcm.channels * 2));
  put16(out, 16);
  out += "data";
  put32(out, dataBytes);
  out.append(reinterpret_cast<const char*>(pcm.samples.data()), dataBytes);
  std::ofstream(path, std::ios::binary) << out;
}

// Where the sound starts: the first 10 ms frame loud enough to be speech.
double onsetSeconds(const Pcm& pcm) {
  const size_t frame = static_cast<size_t>(pcm.rate / 100) * pcm.channels;
  for (size_t at = 0; at + frame <= pcm.samples.size(); at += frame) {
    double energy = 0;
    for (size_t i = at; i < at + frame; ++i)
      energy += static_cast<double>(pcm.samples[i]) * pcm.samples[i];
    if (std::sqrt(energy / static_cast<double>(frame)) >= 300) {
      const size_t sampleFrame = at / pcm.channels;
      return static_cast<double>(sampleFrame) / pcm.rate;
    }
  }
  return 0;
}

std::string speak(const TempDir& dir, const std::string& name, const std::string& text,
                  const std::string& voice) {
  std::string path = dir.file(name);
  std::string command = "flite -voice " + voice + " -t '" + text + "' -o '" + path + "'";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  return path;
}

}  // namespace

TEST(RealEngine, SpokenSentencesAreTranscribedAtAnyRateAndChannelCount) {
  TempDir dir;
  Sondra sondra(dir);
  std::string report = speak(
      dir, "report.wav", "Please send the quarterly report to Margaret before Friday.", "kal16");
  json reply = sondra.transcribe(report);
  ASSERT_EQ(reply["status"], "ok") << reply.dump();
  EXPECT_EQ(reply["text"], "Please send the quarterly report to margaret before Friday.");
  ASSERT_EQ(reply["segments"].size(), 1u);
  EXPECT_NEAR(reply["segments"][0]["start"].get<double>(), onsetSeconds(readWav(report)), 0.15);
  EXPECT_EQ(reply["locale"], "en-US");

  // The same voice at 8 kHz, made stereo at 44.1 kHz by repeating samples.
  Pcm narrow = readWav(speak(dir, "narrow.wav", "Open the calendar for tomorrow.", "kal"));
  ASSERT_EQ(narrow.rate, 8000);
  Pcm wide{44100, 2, {}};
  for (size_t i = 0; i * 8000 < narrow.samples.size() * 44100 / 1; ++i) {
    size_t source = i * 8000 / 44100;
    if (source >= narrow.samples.size()) break;
    wide.samples.push_back(narrow.samples[source]);
    wide.samples.push_back(narrow.samples[source]);
  }
  writeWav(dir.file("wide.wav"), wide);
  for (const char* name : {"narrow.wav", "wide.wav"}) {
    json r = sondra.transcribe(dir.file(name));
    EXPECT_NE(r["text"].get<std::string>().find("calendar"), std::string::npos)
        << name << " " << r.dump();
  }
}

TEST(RealEngine, PhrasesSeparatedByPausesKeepTheirOwnTimes) {
  TempDir dir;
  Pcm joined;
  std::vector<double> onsets;
  for (const char* text :
       {"Open the calendar.", "Call my sister.", "What is the weather tomorrow?"}) {
    Pcm part = readWav(speak(dir, "part.wav", text, "kal16"));
    if (!joined.samples.empty()) joined.samples.insert(joined.samples.end(), 24000, 0);
    onsets.push_back(static_cast<double>(joined.samples.size()) / 16000 + onsetSeconds(part));
    joined.samples.insert(joined.samples.end(), part.samples.begin(), part.samples.end());
  }
  writeWav(dir.file("three.wav"), joined);
  Sondra sondra(dir);
  json reply = sondra.transcribe(dir.file("three.wav"));
  ASSERT_EQ(reply["segments"].size(), 3u) << reply.dump();
  // Each phrase is a sentence of its own, and the full text is theirs joined.
  std::string joinedText;
  for (size_t i = 0; i < 3; ++i) {
    const std::string text = reply["segments"][i]["text"];
    EXPECT_TRUE(std::isupper(static_cast<unsigned char>(text.front()))) << text;
    EXPECT_EQ(text.back(), i == 2 ? '?' : '.') << text;
    if (i > 0) joinedText += ' ';
    joinedText += text;
  }
  EXPECT_EQ(reply["text"], joinedText);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_NEAR(reply["segments"][i]["start"].get<double>(), onsets[i], 0.15) << reply.dump();
    EXPECT_GT(reply["segments"][i]["end"].get<double>(),
              reply["segments"][i]["start"].get<double>());
  }
}

TEST(RealEngine, SilenceAndFilesThatHoldNoAudio) {
  TempDir dir;
  writeWav(dir.file("silence.wav"), Pcm{16000, 1, std::vector<int16_t>(16000 * 3, 0)});
  writeWav(dir.file("empty.wav"), Pcm{16000, 1, {}});
  std::ofstream(dir.file("notes.wav")) << "these are not samples\n";
  std::ofstream(dir.file("zero.wav")).close();
  // A header claiming one sample a second would size the resampler's buffers
  // in hundreds of megabytes; a FIFO would block the opener for ever.
  writeWav(dir.file("one_hertz.wav"), Pcm{1, 1, std::vector<int16_t>(100, 0)});
  ASSERT_EQ(::mkfifo(dir.file("fifo.wav").c_str(), 0600), 0);
  Sondra sondra(dir);
  for (const char* name : {"silence.wav", "empty.wav"}) {
    json reply = sondra.transcribe(dir.file(name));
    EXPECT_EQ(reply["status"], "ok") << name;
    EXPECT_EQ(reply["text"], "") << name;
    EXPECT_EQ(reply["segments"], json::array()) << name;
  }
  for (const std::string& path : {dir.file("notes.wav"), dir.file("zero.wav"), dir.path(),
                                  dir.file("one_hertz.wav"), dir.file("fifo.wav")}) {
    json reply = sondra.transcribe(path);
    EXPECT_EQ(reply["code"], "audio_unreadable") << path;
    EXPECT_NE(reply["message"].get<std::string>().find(path), std::string::npos) << reply.dump();
  }
  json locale = sondra.ask({{"id", "l"}, {"op", "install-locale"}, {"locale", "xx-YY"}});
  EXPECT_EQ(locale["type"], "asset_error");
}

// Three phrase sets, each with a name the main dictionary lacks, used in turn:
// each set's search must still have its own added words when it runs again,
// memory stays flat once all three are built, and nothing leaks by the exit.
TEST(RealEngine, AlternatingPhraseSetsKeepTheirNamesWithoutGrowingMemory) {
  TempDir dir;
  struct Case {
    std::string audio;
    json contextual;
    std::string name;
  };
  const std::vector<Case> cases = {
      {speak(dir, "call.wav", "Please call Okonkwo about the invoice.", "kal16"),
       {"Okonkwo", "Chidi Okonkwo"},
       "Okonkwo"},
      {speak(dir, "ask.wav", "Ask Thorvaldsen to join the meeting.", "kal16"),
       {"Thorvaldsen"},
       "Thorvaldsen"},
      {speak(dir, "remind.wav", "Remind Quillfeather about the lecture.", "kal16"),
       {"Quillfeather", "Professor Quillfeather"},
       "Quillfeather"}};
  Sondra sondra(dir);
  long warmKiB = 0;
  constexpr int ROUNDS = 5;
  for (int round = 0; round < ROUNDS; ++round) {
    // The first two rounds build the searches and let the allocator settle.
    if (round == 2) warmKiB = sondra.residentKiB();
    for (const Case& c : cases) {
      json reply = sondra.transcribe(c.audio, c.contextual);
      EXPECT_NE(reply["text"].get<std::string>().find(c.name), std::string::npos)
          << "round " << round << ": " << reply.dump();
    }
  }
  if (RESIDENT_MEMORY_MEANINGFUL) {
    // A search is about 45 MB: one rebuilt and kept per request shows far
    // beyond the margin.
    EXPECT_LT(sondra.residentKiB() - warmKiB, 8 * 1024) << "from " << warmKiB << " KiB";
  }
  // A request without contextual strings gets none of the sets' words, in any case.
  json plain = sondra.transcribe(cases[2].audio);
  std::string plainText = plain["text"];
  std::transform(plainText.begin(), plainText.end(), plainText.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  EXPECT_EQ(plainText.find("quillfeather"), std::string::npos) << plain.dump();
  auto result = sondra.finish();
  EXPECT_EQ(result.exitStatus, 0) << result.err;
}

namespace {

// A made-up word no dictionary has, a different one for each `n` below 4096.
std::string madeUpName(int n) {
  static const char* const SYLLABLES[] = {"ka",  "zu",  "mi",  "tor", "vel", "quin", "dra", "osh",
                                          "pel", "nix", "bru", "fen", "gal", "yor",  "thi", "wex"};
  std::string name;
  for (int i = 0; i < 3; ++i, n /= 16) name += SYLLABLES[n % 16];
  return name;
}

// Two made-up names, the next ones after `next`.
std::string twoNames(int& next) {
  std::string first = madeUpName(next++);
  return first + " " + madeUpName(next++);
}

}  // namespace

// A field's words with every request, never the same twice, each set with
// names the dictionary lacks: the name spoken is still written, and memory
// stays flat over the flood and after a set so large that the engine is
// loaded afresh. The first request comes while the engine still warms up.
TEST(RealEngine, AFloodOfNewPhraseSetsKeepsTheirNamesAndMemoryBounded) {
  TempDir dir;
  const std::string audio =
      speak(dir, "call.wav", "Please call Okonkwo about the invoice.", "kal16");
  Sondra sondra(dir);
  int next = 0;
  auto newSet = [&next] {
    return json{"invoice summary", "project review", twoNames(next), "Okonkwo"};
  };
  long warmKiB = 0;
  constexpr int REQUESTS = 16;
  for (int i = 0; i < REQUESTS; ++i) {
    // The first requests build the search's tables and let the allocator settle.
    if (i == 4) warmKiB = sondra.residentKiB();
    json reply = sondra.transcribe(audio, newSet());
    EXPECT_NE(reply["text"].get<std::string>().find("Okonkwo"), std::string::npos)
        << "request " << i << ": " << reply.dump();
  }
  // More new words than the engine keeps, in two-word phrases.
  json huge = json::array();
  for (int i = 0; i < 1600; ++i) huge.push_back(twoNames(next));
  EXPECT_EQ(sondra.transcribe(audio, huge)["status"], "ok");
  for (int i = 0; i < 3; ++i) {
    json reply = sondra.transcribe(audio, newSet());
    EXPECT_NE(reply["text"].get<std::string>().find("Okonkwo"), std::string::npos)
        << "after the large set: " << reply.dump();
  }
  if (RESIDENT_MEMORY_MEANINGFUL) {
    // A search kept per set, or an engine's words never let go, shows far
    // beyond the margin.
    EXPECT_LT(sondra.residentKiB() - warmKiB, 24 * 1024) << "from " << warmKiB << " KiB";
  }
  auto result = sondra.finish();
  EXPECT_EQ(result.exitStatus, 0) << result.err;
}

#include "sondra/SpeechAnalyzerWorker.h"

#include <algorithm>
#include <chrono>
#include <filesystem>

namespace nolari::sondra::SpeechAnalyzerWorker {

std::variant<TranscribeResponse, TranscribeError> transcribe(
    platform::Speech& speech, platform::RunLoop& runLoop, const std::string& audioPath,
    const std::string& localeId, const std::vector<std::string>& contextualStrings) {
  // A path holding a NUL names no file: the system would stop reading it there.
  std::error_code ec;
  if (audioPath.find('\0') != std::string::npos || !std::filesystem::exists(audioPath, ec)) {
    return TranscribeError::audioUnreadable("file not found: " + audioPath);
  }
  const platform::TimePoint started = runLoop.now();

  // An equivalent locale only answers the check; recognition uses the one asked for.
  auto supported = speech.supportedLocales();
  if (std::find(supported.begin(), supported.end(), localeId) == supported.end() &&
      !speech.supportedLocaleEquivalentTo(localeId)) {
    return TranscribeError::unsupportedLocale("locale " + localeId + " not supported on this Mac");
  }

  std::string error;
  auto file = speech.openAudioFile(audioPath, error);
  if (!file) return TranscribeError::audioUnreadable(error);

  TranscribeResponse response;
  response.locale = localeId;
  auto failure =
      speech.analyze(*file, localeId, contextualStrings, [&](const platform::SpeechResult& result) {
        response.segments.push_back({result.text, result.start, result.end});
        if (response.segments.size() > 1) response.text += " ";
        response.text += result.text;
      });
  if (failure) return TranscribeError::analyzerFailed(*failure);

  auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(runLoop.now() - started);
  response.duration_ms = std::max<std::int64_t>(0, elapsed.count());
  return response;
}

}  // namespace nolari::sondra::SpeechAnalyzerWorker

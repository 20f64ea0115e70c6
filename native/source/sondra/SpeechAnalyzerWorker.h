#pragma once

#include <string>
#include <variant>
#include <vector>

#include "platform/RunLoop.h"
#include "platform/Speech.h"
#include "sondra/TranscribeError.h"
#include "sondra/TranscribeResponse.h"

// Turns one recorded audio file into text with the on-device analyser.

namespace nolari::sondra::SpeechAnalyzerWorker {

// Reads the file to its end; the clock of `runLoop` times the work for
// "duration_ms".
std::variant<TranscribeResponse, TranscribeError> transcribe(
    platform::Speech& speech, platform::RunLoop& runLoop, const std::string& audioPath,
    const std::string& localeId, const std::vector<std::string>& contextualStrings);

}  // namespace nolari::sondra::SpeechAnalyzerWorker

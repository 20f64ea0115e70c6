#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/Speech.h"

// Written text from a recogniser that hears bare lower-case words: sentences
// begin with a capital and end with a full stop or a question mark where the
// speaker paused long enough or a new request begins ("... is invalid. Please
// try again"), commas set off openings such as "yes" and "I'm sorry", and "I",
// the names the caller gave (in the caller's case), weekdays and months are
// capitalised.
// Only the case of letters changes and punctuation is attached: the words
// themselves stay as heard, numbers included.

namespace nolari::platform {

// A word as the recogniser heard it, times in seconds from the start of the audio.
struct TimedWord {
  std::string text;
  double start = 0;
  double end = 0;
};

class SpeechTextFormatter {
 public:
  explicit SpeechTextFormatter(const std::vector<std::string>& contextualStrings);

  // Takes the next phrase, in order. A phrase's last punctuation depends on
  // what follows it, so each is held until the next one comes: returns the
  // previous phrase, formatted, if there was one.
  std::optional<SpeechResult> add(std::vector<TimedWord> phrase);
  // The phrase still held, formatted as the end of the audio.
  std::optional<SpeechResult> finish();

 private:
  SpeechResult format(const std::vector<TimedWord>& phrase, const std::vector<TimedWord>* next);
  // The caller's spelling of the names starting at `words[at]`: how many words
  // it covers, and the forms, or 0 when no name starts there.
  size_t nameAt(const std::vector<std::string>& words, size_t at,
                std::vector<std::string>& forms) const;

  // The caller's names, by their lower-case words; each name is a sequence of
  // one or more words in the caller's spelling.
  std::map<std::vector<std::string>, std::vector<std::string>> names_;
  size_t longestName_ = 0;
  std::optional<std::vector<TimedWord>> held_;
  // The last word of the phrase before, for a month named after a preposition.
  std::string previousWord_;
  bool sentenceStart_ = true;
  bool question_ = false;
  // The current sentence's first words.
  std::vector<std::string> opening_;
};

}  // namespace nolari::platform

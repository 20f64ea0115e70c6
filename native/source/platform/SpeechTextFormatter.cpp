#include "platform/SpeechTextFormatter.h"

#include <algorithm>
#include <cctype>
#include <limits>
#include <string_view>

#include "base/TextEncoding.h"

namespace nolari::platform {

namespace {

// A silence at least this long between two words ends a sentence. Read speech
// pauses about a quarter of a second between sentences and less within one; a
// pause within a sentence is no sure sign of a comma.
constexpr double SENTENCE_PAUSE_SECONDS = 0.25;
// Bounds on what contextual strings may add, so that a huge list stays quick.
constexpr size_t MAX_NAMES = 2000;
constexpr size_t MAX_NAME_WORDS = 12;

bool isOneOf(std::string_view word, std::initializer_list<std::string_view> set) {
  return std::find(set.begin(), set.end(), word) != set.end();
}

void capitalise(std::string& word) {
  if (!word.empty() && word[0] >= 'a' && word[0] <= 'z') {
    word[0] = static_cast<char>(word[0] - 'a' + 'A');
  }
}

// Punctuation around a word of a contextual string ("Smith," or "(Acme)") is
// not part of the name; bytes of other scripts are.
bool isAsciiPunctuation(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u < 0x80 && std::isalnum(u) == 0;
}

std::vector<std::string> nameWords(std::string_view text) {
  std::vector<std::string> words;
  size_t at = 0;
  while (at < text.size() && words.size() <= MAX_NAME_WORDS) {
    const size_t begin = text.find_first_not_of(" \t\n\r\f\v", at);
    if (begin == std::string_view::npos) break;
    size_t end = text.find_first_of(" \t\n\r\f\v", begin);
    if (end == std::string_view::npos) end = text.size();
    size_t first = begin;
    size_t last = end;
    while (first < last && isAsciiPunctuation(text[first])) ++first;
    while (last > first && isAsciiPunctuation(text[last - 1])) --last;
    if (first < last) words.emplace_back(text.substr(first, last - first));
    at = end;
  }
  return words;
}

bool isAuxiliary(std::string_view word) {
  return isOneOf(word,
                 {"is",     "are",    "was",     "were",     "am",      "do",       "does",
                  "did",    "have",   "has",     "had",      "can",     "could",    "will",
                  "would",  "should", "shall",   "may",      "might",   "must",     "isn't",
                  "aren't", "wasn't", "weren't", "don't",    "doesn't", "didn't",   "haven't",
                  "hasn't", "hadn't", "can't",   "couldn't", "won't",   "wouldn't", "shouldn't"});
}

bool isPersonalPronoun(std::string_view word) {
  return isOneOf(word, {"i", "you", "he", "she", "it", "we", "they", "there"});
}

bool isSubject(std::string_view word) {
  return isPersonalPronoun(word) ||
         isOneOf(word, {"this",     "that",      "these",    "those",     "the",       "a",
                        "an",       "my",        "your",     "his",       "her",       "its",
                        "our",      "their",     "anyone",   "anybody",   "someone",   "somebody",
                        "everyone", "everybody", "anything", "something", "everything"});
}

// Whether a sentence opening with `first` and `second` ("" when it has one
// word) asks: a question word before an auxiliary ("what is", "where can"), or
// an auxiliary before its subject ("is it", "can you"). An auxiliary inside a
// sentence ("that is") is no sign.
bool opensQuestion(std::string_view first, std::string_view second) {
  if (isOneOf(first, {"what's", "where's", "who's", "how's", "when's", "why's"})) return true;
  if (isOneOf(first, {"what", "where", "when", "why", "who", "which", "how", "whose"})) {
    if (second.empty() || isAuxiliary(second)) return true;
    return first == "how" && isOneOf(second, {"many", "much", "long", "far", "often", "old"});
  }
  // "Do the dishes" and "have a seat" tell; "do you" and "have you" ask.
  if (first == "do" || first == "have") {
    return isOneOf(second, {"i", "you", "we", "they"});
  }
  return isAuxiliary(first) && isSubject(second);
}

// The case of a word that is a name wherever it stands.
bool isProperWord(std::string_view word) {
  return isOneOf(
      word, {"i",         "i'm",      "i'll",   "i've",      "i'd",     "monday",   "tuesday",
             "wednesday", "thursday", "friday", "saturday",  "sunday",  "january",  "february",
             "april",     "june",     "july",   "september", "october", "november", "december"});
}

// "May", "March" and "August" are months only where a date is plain from the
// word before: "in may", "since march"; "you may" and "they march" are not.
bool isMonthInContext(std::string_view word, std::string_view previous) {
  return isOneOf(word, {"may", "march", "august"}) &&
         isOneOf(previous, {"in", "on", "since", "until", "till", "from", "during", "before",
                            "after", "early", "late", "mid", "next", "last"});
}

// Whether a "please" after `word` (itself after `before`) opens a request of
// its own ("it is invalid please try again") rather than going on with the
// sentence ("could you please", "and please").
bool startsRequest(std::string_view word, std::string_view before) {
  if (isAuxiliary(word) || (isPersonalPronoun(word) && isAuxiliary(before))) return false;
  return !isOneOf(word, {"and", "or", "but", "to", "so", "then", "just", "also", "now", "please"});
}

// Whether the words a sentence opened with so far are an opening set off by a
// comma ("yes, I will", "I'm sorry, that is"), given the word that follows.
bool endsOpening(const std::vector<std::string>& opening, std::string_view following) {
  if (following.empty()) return false;
  if (opening.size() == 1 && isOneOf(opening[0], {"yes", "okay", "ok"})) return true;
  const bool sorry =
      (opening.size() == 2 && opening[0] == "i'm" && opening[1] == "sorry") ||
      (opening.size() == 3 && opening[0] == "i" && opening[1] == "am" && opening[2] == "sorry");
  return sorry && !isOneOf(following, {"for", "to", "about", "if"});
}

}  // namespace

SpeechTextFormatter::SpeechTextFormatter(const std::vector<std::string>& contextualStrings) {
  for (const std::string& text : contextualStrings) {
    if (names_.size() >= MAX_NAMES) break;
    std::vector<std::string> forms = nameWords(text);
    if (forms.empty() || forms.size() > MAX_NAME_WORDS) continue;
    std::vector<std::string> key;
    key.reserve(forms.size());
    for (const std::string& form : forms) key.push_back(TextEncoding::lowerASCII(form));
    longestName_ = std::max(longestName_, forms.size());
    // The first spelling given wins.
    names_.emplace(std::move(key), std::move(forms));
  }
}

std::optional<SpeechResult> SpeechTextFormatter::add(std::vector<TimedWord> phrase) {
  if (phrase.empty()) return std::nullopt;
  std::optional<SpeechResult> out;
  if (held_) out = format(*held_, &phrase);
  held_ = std::move(phrase);
  return out;
}

std::optional<SpeechResult> SpeechTextFormatter::finish() {
  if (!held_) return std::nullopt;
  SpeechResult out = format(*held_, nullptr);
  held_.reset();
  return out;
}

size_t SpeechTextFormatter::nameAt(const std::vector<std::string>& words, size_t at,
                                   std::vector<std::string>& forms) const {
  for (size_t length = std::min(longestName_, words.size() - at); length > 0; --length) {
    auto found = names_.find(std::vector<std::string>(
        words.begin() + static_cast<long>(at), words.begin() + static_cast<long>(at + length)));
    if (found != names_.end()) {
      forms = found->second;
      return length;
    }
  }
  return 0;
}

SpeechResult SpeechTextFormatter::format(const std::vector<TimedWord>& phrase,
                                         const std::vector<TimedWord>* next) {
  std::vector<std::string> heard;
  heard.reserve(phrase.size());
  for (const TimedWord& w : phrase) heard.push_back(w.text);

  std::vector<std::string> written = heard;
  // A name the caller spelt with capitals keeps its case even at the start of a
  // sentence ("iPhone").
  std::vector<bool> named(heard.size(), false);
  for (size_t i = 0; i < heard.size();) {
    std::vector<std::string> forms;
    if (size_t length = nameAt(heard, i, forms); length > 0) {
      for (size_t k = 0; k < length; ++k) {
        named[i + k] = forms[k] != heard[i + k];
        written[i + k] = forms[k];
      }
      i += length;
      continue;
    }
    const std::string& previous = i > 0 ? heard[i - 1] : previousWord_;
    if (isProperWord(heard[i]) || isMonthInContext(heard[i], previous)) capitalise(written[i]);
    ++i;
  }

  // The words from here on as far as they are known: this phrase and the next.
  std::vector<const TimedWord*> ahead;
  ahead.reserve(phrase.size() + (next ? next->size() : 0));
  for (const TimedWord& w : phrase) ahead.push_back(&w);
  if (next) {
    for (const TimedWord& w : *next) ahead.push_back(&w);
  }
  auto pauseAfter = [&](size_t k) {
    return k + 1 < ahead.size() ? ahead[k + 1]->start - ahead[k]->end
                                : std::numeric_limits<double>::infinity();
  };
  auto textAt = [&](size_t k) -> std::string_view {
    return k < ahead.size() ? std::string_view(ahead[k]->text) : std::string_view();
  };

  SpeechResult result;
  for (size_t i = 0; i < heard.size(); ++i) {
    const double pause = pauseAfter(i);
    const std::string_view before = i > 0 ? std::string_view(heard[i - 1]) : previousWord_;
    const bool ends = pause >= SENTENCE_PAUSE_SECONDS ||
                      (textAt(i + 1) == "please" && pauseAfter(i + 1) < SENTENCE_PAUSE_SECONDS &&
                       startsRequest(heard[i], before));
    if (sentenceStart_) {
      if (!named[i]) capitalise(written[i]);
      question_ = opensQuestion(heard[i], ends ? "" : textAt(i + 1));
      opening_.clear();
      sentenceStart_ = false;
    }
    const bool opening = opening_.size() < 3;
    if (opening) opening_.push_back(heard[i]);
    if (ends) {
      written[i] += question_ ? "?" : ".";
      sentenceStart_ = true;
    } else if (opening && endsOpening(opening_, textAt(i + 1))) {
      written[i] += ",";
    }
    if (!result.text.empty()) result.text += ' ';
    result.text += written[i];
  }
  previousWord_ = heard.back();
  result.start = phrase.front().start;
  result.end = phrase.back().end;
  return result;
}

}  // namespace nolari::platform

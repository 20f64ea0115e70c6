#include "platform/SpeechTextFormatter.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace nolari::platform {
namespace {

// A phrase in words as the recogniser hears them, "//" standing for a pause
// that ends a sentence. Phrases are a second apart.
std::vector<TimedWord> heard(const std::string& phrase, double& clock) {
  std::vector<TimedWord> words;
  std::istringstream in(phrase);
  for (std::string word; in >> word;) {
    if (word == "//") {
      clock += 0.8;
    } else {
      words.push_back({word, clock, clock + 0.3});
      clock += 0.35;
    }
  }
  clock += 1.0;
  return words;
}

TEST(SpeechTextFormatter, WritesSentencesQuestionsAndNamesFromTheWordsAndTheirPauses) {
  struct Case {
    std::string what;
    std::vector<std::string> phrases;
    std::vector<std::string> contextual;
    std::vector<std::string> written;
  };
  const std::vector<Case> cases = {
      {"each pause long enough ends a sentence, I is a capital",
       {"i think so // i'm sure", "i'll come and i've seen what i'd need"},
       {},
       {"I think so. I'm sure.", "I'll come and I've seen what I'd need."}},
      {"a please that goes on ends the sentence before it, openings take a comma",
       {"that option is invalid please try again", "thank you please hold", "call me please",
        "could you please call and please hurry", "yes i'll come",
        "i'm sorry that number is not valid", "i am sorry for the delay"},
       {},
       {"That option is invalid. Please try again.", "Thank you. Please hold.", "Call me please.",
        "Could you please call and please hurry?", "Yes, I'll come.",
        "I'm sorry, that number is not valid.", "I am sorry for the delay."}},
      {"a question opens with a question word before an auxiliary or an auxiliary before "
       "its subject",
       {"what is the time", "can you call me", "how many are there", "that is fine",
        "when you hear the tone press one", "do the dishes // do you know // why"},
       {},
       {"What is the time?", "Can you call me?", "How many are there?", "That is fine.",
        "When you hear the tone press one.", "Do the dishes. Do you know? Why?"}},
      {"names take the caller's case, sequences whole, even at the start of a sentence",
       {"iphone sales at mcdonald's", "call chidi okonkwo in new york", "a new car for chidi"},
       {"iPhone", "McDonald's", "Chidi Okonkwo", "  New York, ", "Chidi Okonkwo Jr"},
       {"iPhone sales at McDonald's.", "Call Chidi Okonkwo in New York.", "A new car for chidi."}},
      {"strings are matched literally, whatever characters they hold",
       {"a big job for zoe", "see plus"},
       {"a.*b", "Zoë", "Ελένη", "(see)", "+", ""},
       {"A big job for zoe.", "See plus."}},
      {"weekdays and months, but may, march and august only after a word that makes a date",
       {"on monday in may you may march in march", "since august the august hall"},
       {},
       {"On Monday in May you may march in March.", "Since August the august hall."}},
  };
  for (const Case& c : cases) {
    SpeechTextFormatter formatter(c.contextual);
    std::vector<std::string> written;
    double clock = 0.2;
    std::vector<std::vector<TimedWord>> phrases;
    for (const std::string& phrase : c.phrases) phrases.push_back(heard(phrase, clock));
    for (size_t i = 0; i < phrases.size(); ++i) {
      const double start = phrases[i].front().start;
      const double end = phrases[i].back().end;
      // Each phrase is held until the next one shows how it ends.
      auto previous = formatter.add(phrases[i]);
      ASSERT_EQ(previous.has_value(), i > 0) << c.what;
      if (previous) written.push_back(previous->text);
      if (i + 1 == phrases.size()) {
        auto last = formatter.finish();
        ASSERT_TRUE(last) << c.what;
        EXPECT_EQ(last->start, start) << c.what;
        EXPECT_EQ(last->end, end) << c.what;
        written.push_back(last->text);
      }
    }
    EXPECT_EQ(written, c.written) << c.what;
  }

  SpeechTextFormatter nothing({"Acme"});
  EXPECT_FALSE(nothing.add({}));
  EXPECT_FALSE(nothing.finish());
}

}  // namespace
}  // namespace nolari::platform

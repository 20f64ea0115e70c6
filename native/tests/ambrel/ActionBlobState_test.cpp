#include "ambrel/blob/ActionBlobState.h"

#include <gtest/gtest.h>

namespace nolari::ambrel {
namespace {

using State = ActionBlobState;
using Category = BlobVisibilityCategory;

TEST(ActionBlobState, ParsesExactWordsWithTheirDefaultTexts) {
  struct Case {
    std::string word, message, longMessage, action;
    State expected;
  };
  const Case cases[] = {
      {"error", "", "", "dismiss", State::Error{"Error", "", "dismiss"}},
      {"error", "Timed out", "The server did not answer.", "retry",
       State::Error{"Timed out", "The server did not answer.", "retry"}},
      // Only the message has a fallback; an empty action is the parent's to send.
      {"error", "Timed out", "", "", State::Error{"Timed out", "", ""}},
      {"disabled", "", "", "dismiss", State::Disabled{"Offline"}},
      {"disabled", "Signed out", "", "dismiss", State::Disabled{"Signed out"}},
      {"info", "", "", "dismiss", State::Info{""}},
      {"info", "Copied", "long", "retry", State::Info{"Copied"}},
      // Payload-less states drop the texts.
      {"ready", "Insert this", "long", "retry", State::Ready{}},
      // Unknown words, the empty word and other letter cases are idle.
      {"listening", "", "", "dismiss", State::Idle{}},
      {"READY", "", "", "dismiss", State::Idle{}},
      {"Error", "Timed out", "", "dismiss", State::Idle{}},
      {"", "", "", "dismiss", State::Idle{}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(State::from(c.word, c.message, c.longMessage, c.action), c.expected)
        << '"' << c.word << "\" \"" << c.message << '"';
  }
  EXPECT_EQ(State::from("error"), (State::Error{"Error", "", "dismiss"}));
  EXPECT_EQ(State::from("disabled"), State::Disabled{"Offline"});
}

// One row per case: its word, whether and how long it is on screen, and that
// the word and message it reports parse back to the same state.
TEST(ActionBlobState, EachStateHasItsWordVisibilityAndLinger) {
  struct Row {
    State state;
    std::string_view word;
    Category category;
    double lingerSeconds;
  };
  const Row rows[] = {
      {State::Idle{}, "idle", Category::hidden, 0},
      {State::Processing{}, "processing", Category::active, 0},
      {State::Ready{}, "ready", Category::terminal, 30},
      {State::Success{}, "success", Category::terminal, 8},
      {State::Error{"Timed out"}, "error", Category::terminal, 30},
      {State::Disabled{"Offline"}, "disabled", Category::hidden, 0},
      {State::Info{"Copied"}, "info", Category::terminal, 10},
      {State::Recording{}, "recording", Category::active, 0},
      {State::Transcribing{}, "transcribing", Category::active, 0},
      {State::Editing{}, "editing", Category::active, 0},
  };
  ASSERT_EQ(std::size(rows), std::variant_size_v<State::Case>);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.word);
    EXPECT_EQ(row.state.stringValue(), row.word);
    EXPECT_EQ(BlobVisibility::category(row.state), row.category);
    EXPECT_EQ(BlobVisibility::linger(row.state).count(), row.lingerSeconds);
    EXPECT_EQ(State::from(row.state.stringValue(), row.state.message()), row.state);
    EXPECT_EQ(row.state.isDisabled(), row.word == "disabled");
  }
}

TEST(ActionBlobState, MessageAndEqualityCoverEveryPayloadString) {
  EXPECT_EQ(State(State::Success{}).message(), "");
  EXPECT_EQ(State(State::Disabled{"Offline"}).message(), "Offline");
  EXPECT_EQ(State(State::Error{"Timed out", "long"}).message(), "Timed out");
  EXPECT_EQ(State(), State::Idle{});

  const State retry = State::Error{"Timed out", "long", "retry"};
  EXPECT_NE(retry, (State::Error{"Timed out", "long", "dismiss"}));
  EXPECT_NE(retry, (State::Error{"Timed out", "", "retry"}));
  EXPECT_EQ(retry, (State::Error{"Timed out", "long", "retry"}));
  // Same text, different case.
  EXPECT_NE(State(State::Info{"Offline"}), State::Disabled{"Offline"});
}

TEST(BlobAction, RawValuesAreTheCaseNames) {
  const BlobAction all[] = {BlobAction::tap,        BlobAction::retry,    BlobAction::copyLast,
                            BlobAction::openNolari, BlobAction::discard,  BlobAction::help,
                            BlobAction::dismiss,    BlobAction::errorMore};
  for (const BlobAction action : all) {
    EXPECT_EQ(blobActionFromRawValue(rawValue(action)), action) << rawValue(action);
  }
  EXPECT_EQ(rawValue(BlobAction::openNolari), "openNolari");
  EXPECT_EQ(rawValue(BlobAction::copyLast), "copyLast");
  for (const std::string_view word : {"open_nolari", "copy_last", "Tap", "", "errormore"}) {
    EXPECT_EQ(blobActionFromRawValue(word), std::nullopt) << word;
  }
}

}  // namespace
}  // namespace nolari::ambrel

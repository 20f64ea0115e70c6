#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

#include "ambrel/blob/DesignTokens.h"

// What the action blob shows and what the user can do with it, as plain
// values: the parent's state words parse into a state, the window decides
// from the state whether the blob is on screen and for how long, and the
// click events carry the state back as its word.

namespace nolari::ambrel {

class ActionBlobState {
 public:
  struct Idle {
    friend bool operator==(const Idle&, const Idle&) = default;
  };
  struct Processing {
    friend bool operator==(const Processing&, const Processing&) = default;
  };
  // A result is ready; a click inserts it.
  struct Ready {
    friend bool operator==(const Ready&, const Ready&) = default;
  };
  // The result was inserted.
  struct Success {
    friend bool operator==(const Success&, const Success&) = default;
  };
  struct Error {
    // Shown in the collapsed blob.
    std::string message;
    // Shown when the hovered blob expands; empty for none, and then it never
    // expands.
    std::string longMessage{};
    // What the parent suggests doing about it; carried and compared only.
    std::string action{"dismiss"};
    friend bool operator==(const Error&, const Error&) = default;
  };
  // The service is offline.
  struct Disabled {
    std::string reason;
    friend bool operator==(const Disabled&, const Disabled&) = default;
  };
  struct Info {
    std::string message;
    friend bool operator==(const Info&, const Info&) = default;
  };
  // Dictation is listening.
  struct Recording {
    friend bool operator==(const Recording&, const Recording&) = default;
  };
  struct Transcribing {
    friend bool operator==(const Transcribing&, const Transcribing&) = default;
  };
  // The text is being polished.
  struct Editing {
    friend bool operator==(const Editing&, const Editing&) = default;
  };

  using Case = std::variant<Idle, Processing, Ready, Success, Error, Disabled, Info, Recording,
                            Transcribing, Editing>;

  ActionBlobState() = default;
  // Implicit from a case, so that a case reads as the state it is:
  // `ActionBlobState state = ActionBlobState::Ready{};`.
  template <typename T>
  requires std::is_constructible_v<Case, T> ActionBlobState(T value) : value_(std::move(value)) {}

  // Never fails: an unknown word, the empty word or a known word in another
  // letter case is idle. An error always has a message to show, and a
  // disabled blob a reason; an info message is taken as it comes.
  static ActionBlobState from(std::string_view word, std::string_view message = "",
                              std::string_view longMessage = "",
                              std::string_view action = "dismiss");

  // The word the parser takes, and the "state" of the click events.
  std::string_view stringValue() const;
  // The error's message, the disabled reason or the info message; empty
  // otherwise.
  std::string_view message() const;
  bool isDisabled() const { return is<Disabled>(); }

  const Case& value() const { return value_; }
  template <typename T>
  bool is() const {
    return std::holds_alternative<T>(value_);
  }

  // Equal in case and every payload string, so a window can ignore a state it
  // already shows.
  friend bool operator==(const ActionBlobState&, const ActionBlobState&) = default;

 private:
  Case value_{};
};

struct BlobContext {
  // The parent holds a previous result that could be acted on again: the idle
  // menu then offers Retry.
  bool hasLastResult = false;
  // What triggered the last result, as the parent names it; stored and
  // compared only.
  std::string lastTrigger{};
  friend bool operator==(const BlobContext&, const BlobContext&) = default;
};

// What the user can do with the blob. The raw values are the case names, not
// the snake case of the event names.
enum class BlobAction { tap, retry, copyLast, openNolari, discard, help, dismiss, errorMore };

std::string_view rawValue(BlobAction action);
std::optional<BlobAction> blobActionFromRawValue(std::string_view rawValue);

enum class BlobVisibilityCategory {
  // Not on screen.
  hidden,
  // On screen for as long as the state lasts.
  active,
  // On screen, and back to idle by itself after the state's linger time.
  terminal,
};

// The window's fade state.
enum class BlobVisibilityPhase { hidden, showing, shown, hiding };

namespace BlobVisibility {
BlobVisibilityCategory category(const ActionBlobState& state);
// Zero for a state that does not end by itself.
BlobDesignTokens::Seconds linger(const ActionBlobState& state);
}  // namespace BlobVisibility

}  // namespace nolari::ambrel

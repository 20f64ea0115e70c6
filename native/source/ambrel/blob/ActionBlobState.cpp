#include "ambrel/blob/ActionBlobState.h"

#include <array>

namespace nolari::ambrel {

namespace {

using State = ActionBlobState;
using BlobDesignTokens::Seconds;
namespace Motion = BlobDesignTokens::Motion;

struct CaseRule {
  std::string_view word;
  BlobVisibilityCategory category;
  Seconds linger;
};

// One row per case, in the order of ActionBlobState::Case.
constexpr std::array<CaseRule, 10> caseRules{{
    {"idle", BlobVisibilityCategory::hidden, Seconds{0}},
    {"processing", BlobVisibilityCategory::active, Seconds{0}},
    {"ready", BlobVisibilityCategory::terminal, Motion::readyLinger},
    {"success", BlobVisibilityCategory::terminal, Motion::successLinger},
    {"error", BlobVisibilityCategory::terminal, Motion::errorLinger},
    {"disabled", BlobVisibilityCategory::hidden, Seconds{0}},
    {"info", BlobVisibilityCategory::terminal, Motion::infoLinger},
    {"recording", BlobVisibilityCategory::active, Seconds{0}},
    {"transcribing", BlobVisibilityCategory::active, Seconds{0}},
    {"editing", BlobVisibilityCategory::active, Seconds{0}},
}};
static_assert(caseRules.size() == std::variant_size_v<State::Case>);

const CaseRule& ruleFor(const State& state) { return caseRules[state.value().index()]; }

constexpr std::array<std::string_view, 8> actionNames{
    "tap", "retry", "copyLast", "openNolari", "discard", "help", "dismiss", "errorMore",
};
static_assert(static_cast<std::size_t>(BlobAction::errorMore) + 1 == actionNames.size());

}  // namespace

State State::from(std::string_view word, std::string_view message, std::string_view longMessage,
                  std::string_view action) {
  if (word == "idle") return Idle{};
  if (word == "processing") return Processing{};
  if (word == "ready") return Ready{};
  if (word == "success") return Success{};
  if (word == "error") {
    return Error{std::string(message.empty() ? "Error" : message), std::string(longMessage),
                 std::string(action)};
  }
  if (word == "disabled") return Disabled{std::string(message.empty() ? "Offline" : message)};
  if (word == "info") return Info{std::string(message)};
  if (word == "recording") return Recording{};
  if (word == "transcribing") return Transcribing{};
  if (word == "editing") return Editing{};
  return Idle{};
}

std::string_view State::stringValue() const { return ruleFor(*this).word; }

std::string_view State::message() const {
  if (const auto* error = std::get_if<Error>(&value_)) return error->message;
  if (const auto* disabled = std::get_if<Disabled>(&value_)) return disabled->reason;
  if (const auto* info = std::get_if<Info>(&value_)) return info->message;
  return {};
}

std::string_view rawValue(BlobAction action) {
  return actionNames[static_cast<std::size_t>(action)];
}

std::optional<BlobAction> blobActionFromRawValue(std::string_view rawValue) {
  for (std::size_t i = 0; i < actionNames.size(); ++i) {
    if (actionNames[i] == rawValue) return static_cast<BlobAction>(i);
  }
  return std::nullopt;
}

BlobVisibilityCategory BlobVisibility::category(const ActionBlobState& state) {
  return ruleFor(state).category;
}

Seconds BlobVisibility::linger(const ActionBlobState& state) { return ruleFor(state).linger; }

}  // namespace nolari::ambrel

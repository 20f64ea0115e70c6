#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/ColorParser.h"

// The configuration file that the parent application may place next to the
// programs, read once at start-up and never written.

namespace nolari {

// Either a decoded record or the human-readable description of why the bytes
// could not be decoded; decoding never throws.
template <typename Record>
struct ConfigDecodeResult {
  std::optional<Record> record;
  std::string errorDescription;
};

struct NolariConfig {
  struct Highlight {
    // Overrides for the drawn highlight box; an absent member falls back to
    // the value of the same name in `Highlight`.
    struct DebugWindow {
      std::optional<bool> visible;
      std::optional<std::string> color;
      std::optional<double> opacity;
      std::optional<double> padding;
      friend bool operator==(const DebugWindow&, const DebugWindow&) = default;
    };

    struct LogoWindow {
      std::optional<bool> visible;
      std::optional<double> size;
      std::optional<double> margin;
      friend bool operator==(const LogoWindow&, const LogoWindow&) = default;
    };

    bool enabled = true;
    std::string color = "#3498db";
    double opacity = 0.3;
    double padding = 2.0;
    DebugWindow debugWindow;
    LogoWindow logoWindow;
    // Matched against window titles.
    std::vector<std::string> allowedApps;
    std::vector<std::string> allowedRoles = {"AXTextField",   "AXTextArea",  "AXComboBox",
                                             "AXSearchField", "AXTextEntry", "AXTextEdit",
                                             "AXText",        "AXTextView"};

    std::string debugColorHex() const;
    // Clamped to 0...1.
    double debugOpacity() const;
    // Never below 0.
    double debugPadding() const;
    // `debugColorHex` parsed, or the system blue when it does not parse.
    Color nsColor() const;

    friend bool operator==(const Highlight&, const Highlight&) = default;
  };

  // When the section is in the file, all four keys must be.
  struct Observer {
    bool enabled = true;
    // Seconds.
    std::vector<double> focusRetryDelays = {0.08, 0.15, 0.3, 0.6};
    std::int64_t maxTreeDepth = 5;
    std::int64_t maxTreeChildren = 50;
    friend bool operator==(const Observer&, const Observer&) = default;
  };

  struct Paths {
    std::optional<std::string> logoPath;
    friend bool operator==(const Paths&, const Paths&) = default;
  };

  // When the section is in the file, all three keys must be.
  struct Dictation {
    bool spaceHoldEnabled = false;
    // Seconds.
    double spaceHoldDelay = 0.25;
    double axTimeoutSeconds = 0.05;
    friend bool operator==(const Dictation&, const Dictation&) = default;
  };

  Highlight highlight;
  Observer observer;
  Paths paths;
  Dictation dictation;

  friend bool operator==(const NolariConfig&, const NolariConfig&) = default;

  // Files larger than this are not read.
  static constexpr std::uintmax_t MAX_FILE_BYTES = 16 * 1024 * 1024;

  // The first candidate file that exists and decodes, else the first legacy
  // file that does, else the defaults. Never fails; reports through NolariLogger.
  static NolariConfig loadOrDefault();

  // A file is taken whole or not at all.
  static ConfigDecodeResult<NolariConfig> decode(std::string_view bytes);
};

// The older file format: one required "highlight" object with four required members.
struct LegacyHighlightConfig {
  struct Highlight {
    bool enabled = false;
    std::string color;
    double opacity = 0;
    double padding = 0;
    friend bool operator==(const Highlight&, const Highlight&) = default;
  };

  Highlight highlight;

  friend bool operator==(const LegacyHighlightConfig&, const LegacyHighlightConfig&) = default;

  static ConfigDecodeResult<LegacyHighlightConfig> decode(std::string_view bytes);
};

}  // namespace nolari

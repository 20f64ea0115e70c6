#pragma once

#include <string>

// The failures of a transcription, each with the wire code it is reported under.

namespace nolari::sondra {

struct TranscribeError {
  enum class Case { audioUnreadable, unsupportedLocale, analyzerFailed };

  Case which;
  std::string message;

  static TranscribeError audioUnreadable(std::string message) {
    return {Case::audioUnreadable, std::move(message)};
  }
  static TranscribeError unsupportedLocale(std::string message) {
    return {Case::unsupportedLocale, std::move(message)};
  }
  static TranscribeError analyzerFailed(std::string message) {
    return {Case::analyzerFailed, std::move(message)};
  }

  const char* code() const {
    switch (which) {
      case Case::audioUnreadable:
        return "audio_unreadable";
      case Case::unsupportedLocale:
        return "unsupported_locale";
      case Case::analyzerFailed:
        return "analyzer_failed";
    }
    return "analyzer_failed";
  }
};

}  // namespace nolari::sondra

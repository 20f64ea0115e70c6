#pragma once

#include <future>
#include <string>

#include "platform/RunLoop.h"
#include "platform/Speech.h"

// The speech engine made ready in the background once the startup line is out,
// so that the first dictation costs what the later ones do. Requests are served
// meanwhile: one that needs the engine waits for the warm-up to end.

namespace nolari::sondra {

class SpeechWarmUp {
 public:
  // Starts warming the recogniser of `localeId` on a thread of `runLoop`.
  SpeechWarmUp(platform::Speech& speech, platform::RunLoop& runLoop, std::string localeId);
  // Waits for the warm-up: the engine must not go while it runs.
  ~SpeechWarmUp();
  SpeechWarmUp(const SpeechWarmUp&) = delete;
  SpeechWarmUp& operator=(const SpeechWarmUp&) = delete;

  // Returns once the warm-up is over.
  void wait();

 private:
  std::promise<void> done_;
  std::shared_future<void> finished_;
};

}  // namespace nolari::sondra

#include "sondra/SpeechWarmUp.h"

#include <utility>

namespace nolari::sondra {

SpeechWarmUp::SpeechWarmUp(platform::Speech& speech, platform::RunLoop& runLoop,
                           std::string localeId)
    : finished_(done_.get_future().share()) {
  runLoop.startThread("sondra.warmup", [this, &speech, localeId = std::move(localeId)] {
    speech.prepare(localeId);
    done_.set_value();
  });
}

SpeechWarmUp::~SpeechWarmUp() { wait(); }

void SpeechWarmUp::wait() { finished_.wait(); }

}  // namespace nolari::sondra

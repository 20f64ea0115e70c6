#pragma once

#include <memory>
#include <string>

#include "platform/Accessibility.h"
#include "platform/RunLoop.h"
#include "platform/Speech.h"
#include "platform/Workspace.h"

// The table of platform areas a program runs against. Program code reaches the
// desktop only through it and never names a backend.

namespace nolari::platform {

struct Platform {
  std::unique_ptr<RunLoop> runLoop;
  std::unique_ptr<Accessibility> accessibility;
  std::unique_ptr<Workspace> workspace;
  // Connected by `connectSpeech`, for the programs that transcribe.
  std::unique_ptr<Speech> speech;
  // What the backend keeps open while the table lives (the simulated desktop's
  // control channel); declared last, so it goes before the run loop does.
  std::shared_ptr<void> backendState;
};

// Connects the backend the environment asks for: the simulated desktop only
// when NOLARI_PLATFORM is "sim" (its scene named by NOLARI_SIM_SCENE, its
// control channel by NOLARI_SIM_CONTROL), the real desktop otherwise. On
// failure `platform` is left empty and `error` says what is wrong, naming the
// file where there is one.
bool connectPlatform(Platform& platform, std::string& error);

}  // namespace nolari::platform

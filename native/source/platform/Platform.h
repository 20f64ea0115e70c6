#pragma once

#include <memory>
#include <string>

#include "platform/Accessibility.h"
#include "platform/EventTaps.h"
#include "platform/RunLoop.h"
#include "platform/Speech.h"
#include "platform/Windowing.h"
#include "platform/Workspace.h"

// The table of platform areas a program runs against. Program code reaches the
// desktop only through the areas its `main` hands it and never names a backend.

namespace nolari::platform {

struct Platform {
  // One per process: every backend delivers its notices here.
  std::unique_ptr<RunLoop> runLoop;
  std::unique_ptr<Accessibility> accessibility;
  std::unique_ptr<Workspace> workspace;
  std::unique_ptr<EventTaps> eventTaps;
  std::unique_ptr<Speech> speech;
  std::unique_ptr<Windowing> windowing;
  // What the backend keeps open while the table lives (the simulated desktop
  // and its control channel); declared last, so it goes first.
  std::shared_ptr<void> backendState;
};

// The areas a program asks for.
struct PlatformNeeds {
  bool desktop = false;  // accessibility and workspace
  bool eventTaps = false;
  bool speech = false;
  bool windows = false;  // the agent's own windows and the user defaults
};

// What the environment says about the backend, read in one place.
struct PlatformEnvironment {
  std::string platform{};        // NOLARI_PLATFORM: "sim", or empty for the real one
  std::string simScene{};        // NOLARI_SIM_SCENE
  std::string simControl{};      // NOLARI_SIM_CONTROL
  std::string speechScript{};    // NOLARI_SPEECH_SCRIPT
  std::string speechModelDir{};  // NOLARI_SPEECH_MODEL_DIR
  std::string speechEngine{};    // NOLARI_SPEECH_ENGINE: "pocketsphinx" (or empty), "whisper"
  std::string speechModel{};     // NOLARI_SPEECH_MODEL: the whisper engine's model file
  std::string speechThreads{};   // NOLARI_SPEECH_THREADS: the whisper engine's threads
  std::string configHome{};      // XDG_CONFIG_HOME, where the user defaults are kept
  std::string home{};            // HOME, for them where XDG_CONFIG_HOME is not set
  std::string systemBus{};       // DBUS_SYSTEM_BUS_ADDRESS, where logind tells of the wake

  static PlatformEnvironment fromProcess();
};

// Connects the areas `needs` names on the backend the environment asks for:
// the simulated desktop only when asked for by name, the real desktop
// otherwise. A run loop already in the table is kept (tests bring one on
// virtual time); else the real one is made. On failure the areas are left
// empty and `error` says what is wrong, naming the file where there is one.
bool connectPlatform(Platform& platform, PlatformNeeds needs,
                     const PlatformEnvironment& environment, std::string& error);

}  // namespace nolari::platform

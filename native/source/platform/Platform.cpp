#include "platform/Platform.h"

#include <charconv>
#include <cstdlib>
#include <string_view>

#include <nlohmann/json.hpp>

#include "base/FileInput.h"
#include "base/JSONInput.h"
#include "platform/asio/RunLoop.h"
#include "platform/atspi/Accessibility.h"
#include "platform/pocketsphinx/Speech.h"
#include "platform/sim/Accessibility.h"
#include "platform/sim/ControlChannel.h"
#include "platform/sim/Desktop.h"
#include "platform/sim/EventTaps.h"
#include "platform/sim/Speech.h"
#include "platform/sim/Windowing.h"
#include "platform/sim/Workspace.h"
#ifdef NOLARI_HAVE_WHISPER
#include "platform/whisper/Speech.h"
#endif
#include "platform/x11/EventTaps.h"
#include "platform/x11/KeyRepeat.h"
#include "platform/x11/Windowing.h"
#include "platform/x11/Workspace.h"
#include "platform/x11/X11Desktop.h"
#include "platform/x11/X11Keyboard.h"
#include "platform/xdg/UserDefaults.h"

namespace nolari::platform {

namespace {

std::string variable(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// What the simulated desktop keeps while the table lives.
struct SimState {
  std::shared_ptr<SimDesktop> desktop;
  std::unique_ptr<SimControlChannel> channel;
};

// The accessibility, the workspace, the event taps and the windowing, as
// `needs` asks, of one simulated desktop.
bool connectSimDesktop(Platform& platform, PlatformNeeds needs,
                       const PlatformEnvironment& environment, std::string& error) {
  if (environment.simScene.empty()) {
    error = "NOLARI_PLATFORM=sim needs NOLARI_SIM_SCENE to name a scene file";
    return false;
  }
  auto state = std::make_shared<SimState>();
  state->desktop = SimDesktop::load(environment.simScene, error);
  if (!state->desktop) return false;
  state->desktop->setMainRunLoop(platform.runLoop.get());
  if (!environment.simControl.empty()) {
    state->channel =
        SimControlChannel::open(environment.simControl, state->desktop, *platform.runLoop, error);
    if (!state->channel) return false;
  }
  if (needs.desktop) {
    platform.accessibility = std::make_unique<SimAccessibility>(state->desktop);
    platform.workspace = std::make_unique<SimWorkspace>(state->desktop);
  }
  if (needs.eventTaps) platform.eventTaps = std::make_unique<SimEventTaps>(state->desktop);
  if (needs.windows) platform.windowing = std::make_unique<SimWindowing>(state->desktop);
  platform.backendState = std::move(state);
  return true;
}

constexpr std::size_t MAX_SPEECH_SCRIPT_BYTES = 16u << 20;

bool connectSimSpeech(Platform& platform, const PlatformEnvironment& environment,
                      std::string& error) {
  const std::string& path = environment.speechScript;
  if (path.empty()) {
    error = "NOLARI_PLATFORM=sim needs NOLARI_SPEECH_SCRIPT to name a speech script";
    return false;
  }
  std::string reason;
  auto text = FileInput::readRegularFile(path, MAX_SPEECH_SCRIPT_BYTES, reason);
  if (!text) {
    error = "cannot read the speech script " + path + " (" + reason + ")";
    return false;
  }
  auto script = JSONInput::parse(*text);
  if (!script || !script->is_object()) {
    error = "the speech script " + path + " is not a JSON object";
    return false;
  }
  platform.speech = std::make_unique<SimSpeech>(*platform.runLoop, std::move(*script));
  return true;
}

bool connectSim(Platform& platform, PlatformNeeds needs, const PlatformEnvironment& environment,
                std::string& error) {
  if ((needs.desktop || needs.eventTaps || needs.windows) &&
      !connectSimDesktop(platform, needs, environment, error)) {
    return false;
  }
  return !needs.speech || connectSimSpeech(platform, environment, error);
}

// The X server's keyboard, for the fields the accessibility bus cannot write.
class X11TypingKeyboard : public AtspiAccessibility::Keyboard {
 public:
  bool selectAll() override { return keyboard_.selectAll(); }
  bool erase() override { return keyboard_.erase(); }
  std::size_t type(std::u32string_view text) override { return keyboard_.type(text); }
  void restore() override { keyboard_.restore(); }

 private:
  X11Keyboard keyboard_;
};

// The on-device engine the environment names. A model the user brings is only
// checked once a request needs it, so that a bad one is answered per request;
// an engine that does not exist here is a configuration error at start.
std::unique_ptr<Speech> speechEngine(const PlatformEnvironment& environment, std::string& error) {
  const std::string& engine = environment.speechEngine;
  if (engine.empty() || engine == "pocketsphinx") {
    const std::string& model = environment.speechModelDir;
    return std::make_unique<PocketSpeech>(model.empty() ? PocketSpeech::DEFAULT_MODEL_DIR : model);
  }
  if (engine == "whisper") {
#ifdef NOLARI_HAVE_WHISPER
    if (environment.speechModel.empty()) {
      error = "NOLARI_SPEECH_ENGINE=whisper needs NOLARI_SPEECH_MODEL to name a whisper model file";
      return nullptr;
    }
    constexpr int MAX_SPEECH_THREADS = 64;
    int threads = WhisperSpeech::defaultThreads();
    if (!environment.speechThreads.empty()) {
      const std::string& text = environment.speechThreads;
      int value = 0;
      auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), value);
      if (failure != std::errc() || end != text.data() + text.size() || value < 1 ||
          value > MAX_SPEECH_THREADS) {
        error = "NOLARI_SPEECH_THREADS=";
        error += text;
        error += " is not a thread count from 1 to ";
        error += std::to_string(MAX_SPEECH_THREADS);
        return nullptr;
      }
      threads = value;
    }
    return std::make_unique<WhisperSpeech>(environment.speechModel, threads);
#else
    error =
        "NOLARI_SPEECH_ENGINE=whisper: this build has no whisper engine (scripts/deps.sh builds "
        "its library; configure and build again after it)";
    return nullptr;
#endif
  }
  error = "NOLARI_SPEECH_ENGINE=";
  error += engine;
  error += " is not a known speech engine (\"pocketsphinx\", the default, or \"whisper\")";
  return nullptr;
}

// The real desktop on Linux: the accessibility bus, the X window system (also
// for the event taps, for typing and for the agent's windows) and the
// on-device speech engine.
bool connectLinux(Platform& platform, PlatformNeeds needs, const PlatformEnvironment& environment,
                  std::string& error) {
  // First, while the process has one thread and no display: it forks.
  auto keyRepeat = needs.eventTaps ? std::make_shared<X11KeyRepeat>() : nullptr;
  if (needs.desktop) {
    platform.accessibility = std::make_unique<AtspiAccessibility>(
        &X11Workspace::frontmostProcess,
        [](int x, int y) { return X11Desktop::shared().processAt(x, y); },
        std::make_shared<X11TypingKeyboard>());
    platform.workspace = std::make_unique<X11Workspace>(*platform.runLoop);
  }
  if (needs.eventTaps) platform.eventTaps = std::make_unique<X11EventTaps>(std::move(keyRepeat));
  if (needs.speech) {
    platform.speech = speechEngine(environment, error);
    if (!platform.speech) return false;
  }
  if (needs.windows) {
    auto defaults = std::make_unique<FileUserDefaults>(
        FileUserDefaults::pathIn(environment.configHome, environment.home));
    platform.windowing =
        X11Windowing::open(*platform.runLoop, std::move(defaults), environment.systemBus, error);
    if (!platform.windowing) return false;
  }
  return true;
}

struct Backend {
  std::string_view name;
  bool (*connect)(Platform&, PlatformNeeds, const PlatformEnvironment&, std::string&);
};

// The first is the default; the simulated desktop is only ever chosen by name.
constexpr Backend BACKENDS[] = {
    {"linux", connectLinux},
    {"sim", connectSim},
};

}  // namespace

PlatformEnvironment PlatformEnvironment::fromProcess() {
  return {variable("NOLARI_PLATFORM"),         variable("NOLARI_SIM_SCENE"),
          variable("NOLARI_SIM_CONTROL"),      variable("NOLARI_SPEECH_SCRIPT"),
          variable("NOLARI_SPEECH_MODEL_DIR"), variable("NOLARI_SPEECH_ENGINE"),
          variable("NOLARI_SPEECH_MODEL"),     variable("NOLARI_SPEECH_THREADS"),
          variable("XDG_CONFIG_HOME"),         variable("HOME"),
          variable("DBUS_SYSTEM_BUS_ADDRESS")};
}

bool connectPlatform(Platform& platform, PlatformNeeds needs,
                     const PlatformEnvironment& environment, std::string& error) {
  const Backend* backend = environment.platform.empty() ? &BACKENDS[0] : nullptr;
  for (const Backend& candidate : BACKENDS) {
    if (candidate.name == environment.platform) backend = &candidate;
  }
  if (!backend) {
    error = "NOLARI_PLATFORM=" + environment.platform +
            " is not a known platform (\"sim\", or unset for the real desktop)";
    return false;
  }
  auto runLoop = std::move(platform.runLoop);
  platform = Platform{};
  platform.runLoop = runLoop ? std::move(runLoop) : std::make_unique<AsioRunLoop>();
  if (backend->connect(platform, needs, environment, error)) return true;
  runLoop = std::move(platform.runLoop);
  platform = Platform{};
  platform.runLoop = std::move(runLoop);
  return false;
}

}  // namespace nolari::platform

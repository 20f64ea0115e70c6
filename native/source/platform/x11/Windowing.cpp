#include "platform/x11/Windowing.h"

#include <cstdlib>

#include "platform/gsettings/DisplayOptions.h"
#include "platform/x11/X11Desktop.h"
#include "platform/x11/X11Overlay.h"

namespace nolari::platform {

std::unique_ptr<X11Windowing> X11Windowing::open(RunLoop& mainLoop,
                                                 std::unique_ptr<UserDefaults> userDefaults,
                                                 const std::string& systemBus, std::string& error) {
  Display* display = X11Desktop::openDisplay();
  if (!display) {
    const char* name = std::getenv("DISPLAY");
    if (name && *name) {
      error = "cannot open the X display ";
      error += name;
      error += " for the agent's windows";
    } else {
      error = "the agent's windows need an X display, and DISPLAY is not set";
    }
    return nullptr;
  }
  auto connection = std::make_shared<X11OverlayConnection>(mainLoop, display, systemBus);
  if (!connection->start(error)) return nullptr;
  return std::unique_ptr<X11Windowing>(
      new X11Windowing(std::move(connection), std::move(userDefaults)));
}

X11Windowing::X11Windowing(std::shared_ptr<X11OverlayConnection> connection,
                           std::unique_ptr<UserDefaults> userDefaults)
    : connection_(std::move(connection)), userDefaults_(std::move(userDefaults)) {}

X11Windowing::~X11Windowing() = default;

std::shared_ptr<OverlayWindow> X11Windowing::createWindow(const WindowOptions& options,
                                                          PointerHandler handler) {
  auto window = std::make_shared<X11OverlayWindow>(connection_, options, std::move(handler));
  connection_->add(window->id(), window);
  return window;
}

TextMeasurer& X11Windowing::textMeasurer() { return connection_->text(); }

Windowing::ObserverToken X11Windowing::addScreenChangeObserver(Notice notice) {
  return connection_->addObserver(NoticeKind::screens, std::move(notice));
}

Windowing::ObserverToken X11Windowing::addWakeObserver(Notice notice) {
  return connection_->addObserver(NoticeKind::wake, std::move(notice));
}

Windowing::ObserverToken X11Windowing::addMouseDownMonitor(MouseDownHandler handler) {
  return connection_->addMouseDownMonitor(std::move(handler));
}

bool X11Windowing::blendsTranslucency() { return connection_->blendsTranslucency(); }

Windowing::ObserverToken X11Windowing::addTranslucencyObserver(Notice notice) {
  return connection_->addObserver(NoticeKind::translucency, std::move(notice));
}

void X11Windowing::removeObserver(ObserverToken token) { connection_->removeObserver(token); }

DisplayOptions X11Windowing::displayOptions() { return readGSettingsDisplayOptions(); }

UserDefaults& X11Windowing::userDefaults() { return *userDefaults_; }

}  // namespace nolari::platform

#include "platform/atspi/AtspiSession.h"

#include <atspi/atspi.h>
#include <dbus/dbus.h>

#include <cstdlib>

#include "platform/ThreadName.h"

namespace nolari::platform {

namespace {

using namespace std::chrono_literals;

// One request on the bus; an application that does not answer within it
// counts as not answering.
constexpr std::chrono::milliseconds DEFAULT_REQUEST_TIMEOUT = 1500ms;
// Starting the accessibility bus on first use takes about a second.
constexpr std::chrono::milliseconds STARTUP_TIMEOUT = 4000ms;
constexpr std::chrono::seconds RECHECK_INTERVAL = 2s;
constexpr const char* FOCUS_EVENT = "object:state-changed:focused";

DBusMessage* call(DBusConnection* bus, const char* destination, const char* path,
                  const char* interface, const char* method, int timeoutMs) {
  DBusMessage* message = dbus_message_new_method_call(destination, path, interface, method);
  if (!message) return nullptr;
  DBusError error;
  dbus_error_init(&error);
  DBusMessage* reply = dbus_connection_send_with_reply_and_block(bus, message, timeoutMs, &error);
  dbus_message_unref(message);
  dbus_error_free(&error);
  return reply;
}

// A private connection that has said hello within the time-out, or nullptr.
DBusConnection* openBus(const char* address, int timeoutMs) {
  DBusError error;
  dbus_error_init(&error);
  DBusConnection* bus = dbus_connection_open_private(address, &error);
  dbus_error_free(&error);
  if (!bus) return nullptr;
  DBusMessage* hello =
      call(bus, DBUS_SERVICE_DBUS, DBUS_PATH_DBUS, DBUS_INTERFACE_DBUS, "Hello", timeoutMs);
  if (!hello) {
    dbus_connection_close(bus);
    dbus_connection_unref(bus);
    return nullptr;
  }
  dbus_message_unref(hello);
  return bus;
}

void closeBus(DBusConnection* bus) {
  dbus_connection_close(bus);
  dbus_connection_unref(bus);
}

// The bus library ends the process when it cannot reach the accessibility
// bus, so the way there is tried first, every step within a time-out, and
// never by starting a session bus of our own. The address found is handed to
// the library, so that it uses the bus that was checked.
bool accessibilityBusReachable() {
  const int timeoutMs = static_cast<int>(STARTUP_TIMEOUT.count());
  std::string address;
  if (const char* given = std::getenv("AT_SPI_BUS_ADDRESS"); given && *given) {
    address = given;
  } else {
    const char* session = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (!session || !*session) return false;
    DBusConnection* bus = openBus(session, timeoutMs);
    if (!bus) return false;
    DBusMessage* reply =
        call(bus, "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", timeoutMs);
    closeBus(bus);
    if (!reply) return false;
    const char* found = nullptr;
    if (dbus_message_get_args(reply, nullptr, DBUS_TYPE_STRING, &found, DBUS_TYPE_INVALID) &&
        found) {
      address = found;
    }
    dbus_message_unref(reply);
  }
  if (address.empty()) return false;
  DBusConnection* a11y = openBus(address.c_str(), timeoutMs);
  if (!a11y) return false;
  closeBus(a11y);
  setenv("AT_SPI_BUS_ADDRESS", address.c_str(), 1);
  return true;
}

}  // namespace

// --- Elements ----------------------------------------------------------------

AXUIElement AtspiElementRef::systemWide() {
  return AXUIElement(std::make_shared<AtspiElementRef>());
}

AXUIElement AtspiElementRef::application(std::int32_t pid) {
  auto ref = std::make_shared<AtspiElementRef>();
  ref->kind = Kind::application;
  ref->pid = pid;
  return AXUIElement(std::move(ref));
}

AXUIElement AtspiSession::adopt(AtspiAccessible* object) {
  if (!object) return {};
  auto ref = std::make_shared<AtspiElementRef>();
  ref->kind = AtspiElementRef::Kind::object;
  ref->object = object;
  ref->session = shared_from_this();
  const AtspiObject* base = ATSPI_OBJECT(object);
  if (base->app && base->app->bus_name) ref->busName = base->app->bus_name;
  if (base->path) ref->path = base->path;
  return AXUIElement(std::move(ref));
}

AtspiElementRef::~AtspiElementRef() {
  if (object) session->release(object);
}

bool AtspiElementRef::isSameElement(const AXElementRef& other) const {
  const auto* that = dynamic_cast<const AtspiElementRef*>(&other);
  if (!that || that->kind != kind) return false;
  switch (kind) {
    case Kind::systemWide:
      return true;
    case Kind::application:
      return pid == that->pid;
    case Kind::object:
      return busName == that->busName && path == that->path;
  }
  return false;
}

// --- Session -----------------------------------------------------------------

std::chrono::milliseconds AtspiSession::waitLimit() const {
  // One piece of work makes a few requests; the bound leaves room for them.
  return 4 * (requestTimeout_.count() ? requestTimeout_ : DEFAULT_REQUEST_TIMEOUT) + 1000ms;
}

namespace {

// The source that watches a session's queue, with the session it serves.
struct QueueSource {
  GSource base;
  AtspiSession* session;
};

}  // namespace

// The thread holds the session for as long as it runs: the library's state
// and the events it delivers live as long.
void AtspiSession::startThread() {
  threadStarted_ = true;
  std::thread([self = shared_from_this()] {
    nameCurrentThread("nolari.atspi");
    {
      std::lock_guard lock(self->mutex_);
      self->threadId_ = std::this_thread::get_id();
    }
    static GSourceFuncs queueWatch = {
        [](GSource* source, gint* timeout) -> gboolean {
          *timeout = -1;
          return reinterpret_cast<QueueSource*>(source)->session->hasWork();
        },
        [](GSource* source) -> gboolean {
          return reinterpret_cast<QueueSource*>(source)->session->hasWork();
        },
        [](GSource* source, GSourceFunc, gpointer) -> gboolean {
          reinterpret_cast<QueueSource*>(source)->session->runQueued();
          return G_SOURCE_CONTINUE;
        },
        nullptr,
        nullptr,
        nullptr};
    GMainContext* context = g_main_context_default();
    GSource* source = g_source_new(&queueWatch, sizeof(QueueSource));
    reinterpret_cast<QueueSource*>(source)->session = self.get();
    g_source_attach(source, context);
    GMainLoop* loop = g_main_loop_new(context, FALSE);
    g_main_loop_run(loop);
  }).detach();
}

// Always queued for the session thread, never run by the caller, even while
// the thread has not started its loop yet. The work passes through our own
// locked queue, watched by one source the session thread made itself, so no
// GLib object crosses threads and the hand-over is visible to thread checkers
// that do not see inside GLib.
void AtspiSession::invoke(std::function<void()> work) {
  {
    std::lock_guard lock(queueMutex_);
    queue_.push_back(std::move(work));
  }
  g_main_context_wakeup(g_main_context_default());
}

bool AtspiSession::hasWork() {
  std::lock_guard lock(queueMutex_);
  return !queue_.empty();
}

void AtspiSession::runQueued() {
  for (;;) {
    std::function<void()> work;
    {
      std::lock_guard lock(queueMutex_);
      if (queue_.empty()) return;
      work = std::move(queue_.front());
      queue_.pop_front();
    }
    work();
  }
}

bool AtspiSession::connect() {
  std::unique_lock lock(mutex_);
  const auto now = std::chrono::steady_clock::now();
  if (state_ == State::ready) return true;
  if (state_ == State::unreachable && now - checkedAt_ < RECHECK_INTERVAL) return false;
  if (state_ == State::checking) {
    // A check that overran its bound is not waited for again.
    if (now - checkedAt_ > STARTUP_TIMEOUT + 1000ms) return false;
  } else {
    if (!threadStarted_) startThread();
    state_ = State::checking;
    checkedAt_ = now;
    invoke([this] {
      bool ok = accessibilityBusReachable();
      if (ok) {
        ok = atspi_init() <= 1;
        if (ok) {
          const auto request = static_cast<gint>(DEFAULT_REQUEST_TIMEOUT.count());
          atspi_set_timeout(request, static_cast<gint>(STARTUP_TIMEOUT.count()));
        }
      }
      std::lock_guard guard(mutex_);
      state_ = ok ? State::ready : State::unreachable;
      checkedAt_ = std::chrono::steady_clock::now();
      changed_.notify_all();
    });
  }
  changed_.wait_until(lock, checkedAt_ + STARTUP_TIMEOUT + 1000ms,
                      [this] { return state_ != State::checking; });
  return state_ == State::ready;
}

bool AtspiSession::run(std::function<void()> work) {
  if (!connect()) return false;
  {
    std::lock_guard lock(mutex_);
    if (std::this_thread::get_id() == threadId_) {
      work();
      return true;
    }
  }
  struct Completion {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
  };
  auto completion = std::make_shared<Completion>();
  invoke([completion, work = std::move(work)] {
    work();
    std::lock_guard lock(completion->mutex);
    completion->finished = true;
    completion->done.notify_all();
  });
  std::chrono::milliseconds limit;
  {
    std::lock_guard lock(mutex_);
    limit = waitLimit();
  }
  std::unique_lock lock(completion->mutex);
  return completion->done.wait_for(lock, limit, [&] { return completion->finished; });
}

void AtspiSession::release(AtspiAccessible* object) {
  bool here = false;
  {
    std::lock_guard lock(mutex_);
    here = std::this_thread::get_id() == threadId_;
  }
  if (here) {
    g_object_unref(object);
    return;
  }
  invoke([object] { g_object_unref(object); });
}

void AtspiSession::setRequestTimeout(std::chrono::milliseconds timeout) {
  {
    std::lock_guard lock(mutex_);
    requestTimeout_ = timeout;
  }
  const auto request = timeout.count() ? timeout : DEFAULT_REQUEST_TIMEOUT;
  run([request] {
    atspi_set_timeout(static_cast<gint>(request.count()),
                      static_cast<gint>(std::max(request, STARTUP_TIMEOUT).count()));
  });
}

bool AtspiSession::listenForFocus(FocusHandler handler) {
  bool registered = false;
  auto ok = std::make_shared<bool>(false);
  {
    std::lock_guard lock(mutex_);
    focusHandler_ = std::move(handler);
    registered = listening_;
  }
  if (registered) return true;
  // The listener is called on the session thread, which holds the session.
  if (!run([ok, this] {
        GError* error = nullptr;
        *ok = atspi_event_listener_register_from_callback(
            [](AtspiEvent* event, void* data) {
              auto* session = static_cast<AtspiSession*>(data);
              if (event->detail1 == 1 && event->source) {
                FocusHandler handler;
                {
                  std::lock_guard lock(session->mutex_);
                  handler = session->focusHandler_;
                }
                if (handler) handler(event->source);
              }
              g_boxed_free(ATSPI_TYPE_EVENT, event);
            },
            this, nullptr, FOCUS_EVENT, &error);
        g_clear_error(&error);
      })) {
    return false;
  }
  std::lock_guard lock(mutex_);
  listening_ = *ok;
  return *ok;
}

AtspiAccessible* AtspiSession::applicationOf(std::int32_t pid) {
  // A cached application is checked with the bus, which knows whether its
  // connection still belongs to that process: one that quit is looked up
  // afresh.
  if (auto it = applications_.find(pid); it != applications_.end()) {
    GError* error = nullptr;
    const auto owner =
        static_cast<std::int32_t>(atspi_accessible_get_process_id(it->second, &error));
    if (!error && owner == pid) return static_cast<AtspiAccessible*>(g_object_ref(it->second));
    g_clear_error(&error);
    forgetApplication(pid);
  }
  AtspiAccessible* desktop = atspi_get_desktop(0);
  if (!desktop) return nullptr;
  AtspiAccessible* found = nullptr;
  const gint count = atspi_accessible_get_child_count(desktop, nullptr);
  for (gint i = 0; i < count && !found; ++i) {
    AtspiAccessible* app = atspi_accessible_get_child_at_index(desktop, i, nullptr);
    if (!app) continue;
    if (processOf(app) == pid) {
      found = app;
    } else {
      g_object_unref(app);
    }
  }
  g_object_unref(desktop);
  if (found) applications_[pid] = static_cast<AtspiAccessible*>(g_object_ref(found));
  return found;
}

void AtspiSession::forgetApplication(std::int32_t pid) {
  if (auto it = applications_.find(pid); it != applications_.end()) {
    g_object_unref(it->second);
    applications_.erase(it);
  }
}

std::int32_t AtspiSession::processOf(AtspiAccessible* object) {
  const AtspiObject* base = ATSPI_OBJECT(object);
  const std::string busName = base->app && base->app->bus_name ? base->app->bus_name : "";
  if (auto it = processes_.find(busName); it != processes_.end() && !busName.empty()) {
    return it->second;
  }
  GError* error = nullptr;
  const auto pid = static_cast<std::int32_t>(atspi_accessible_get_process_id(object, &error));
  if (error) {
    g_clear_error(&error);
    return 0;
  }
  if (!busName.empty() && pid > 0) processes_[busName] = pid;
  return pid;
}

std::string AtspiSession::toolkitOf(AtspiAccessible* object) {
  const AtspiObject* base = ATSPI_OBJECT(object);
  const std::string busName = base->app && base->app->bus_name ? base->app->bus_name : "";
  if (auto it = toolkits_.find(busName); it != toolkits_.end() && !busName.empty()) {
    return it->second;
  }
  // Asked of the application object: some toolkits answer it nowhere else.
  const std::int32_t pid = processOf(object);
  AtspiAccessible* app = pid > 0 ? applicationOf(pid) : nullptr;
  if (!app) return "";
  GError* error = nullptr;
  gchar* name = atspi_accessible_get_toolkit_name(app, &error);
  g_object_unref(app);
  std::string toolkit = name ? name : "";
  g_free(name);
  // A request that failed is asked again next time.
  if (error) {
    g_clear_error(&error);
    return "";
  }
  if (!busName.empty()) toolkits_[busName] = toolkit;
  return toolkit;
}

}  // namespace nolari::platform

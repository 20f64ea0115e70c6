#include "platform/logind/WakeSignal.h"

#include <dbus/dbus.h>

namespace nolari::platform {

namespace {

constexpr const char* MANAGER = "org.freedesktop.login1.Manager";
constexpr const char* SLEEP = "PrepareForSleep";
// Only the name's owner (root, on a system bus) sends what this rule matches.
constexpr const char* RULE =
    "type='signal',sender='org.freedesktop.login1',path='/org/freedesktop/login1',"
    "interface='org.freedesktop.login1.Manager',member='PrepareForSleep'";

}  // namespace

std::unique_ptr<LogindWakeSignal> LogindWakeSignal::connect(const std::string& address) {
  DBusError error;
  dbus_error_init(&error);
  DBusConnection* connection = address.empty()
                                   ? dbus_bus_get_private(DBUS_BUS_SYSTEM, &error)
                                   : dbus_connection_open_private(address.c_str(), &error);
  if (!connection) {
    dbus_error_free(&error);
    return nullptr;
  }
  // libdbus ends the process when a bus connection closes, unless told not to.
  dbus_connection_set_exit_on_disconnect(connection, FALSE);
  if (!address.empty()) dbus_bus_register(connection, &error);
  if (!dbus_error_is_set(&error)) dbus_bus_add_match(connection, RULE, &error);
  int fd = -1;
  if (dbus_error_is_set(&error) || !dbus_connection_get_unix_fd(connection, &fd)) {
    dbus_error_free(&error);
    dbus_connection_close(connection);
    dbus_connection_unref(connection);
    return nullptr;
  }
  return std::unique_ptr<LogindWakeSignal>(new LogindWakeSignal(connection, fd));
}

LogindWakeSignal::~LogindWakeSignal() {
  dbus_connection_close(connection_);
  dbus_connection_unref(connection_);
}

bool LogindWakeSignal::readWoke() {
  if (fd_ < 0) return false;
  if (!dbus_connection_read_write(connection_, 0)) fd_ = -1;
  bool woke = false;
  while (DBusMessage* message = dbus_connection_pop_message(connection_)) {
    dbus_bool_t sleeping = TRUE;
    // A signal sent to this connection alone is not the broadcast the rule
    // asked for, whoever sent it.
    if (dbus_message_is_signal(message, MANAGER, SLEEP) && !dbus_message_get_destination(message) &&
        dbus_message_get_args(message, nullptr, DBUS_TYPE_BOOLEAN, &sleeping, DBUS_TYPE_INVALID) &&
        !sleeping) {
      woke = true;
    }
    dbus_message_unref(message);
  }
  if (!dbus_connection_get_is_connected(connection_)) fd_ = -1;
  return woke;
}

}  // namespace nolari::platform

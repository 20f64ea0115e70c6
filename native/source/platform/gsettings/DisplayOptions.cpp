#include "platform/gsettings/DisplayOptions.h"

#include <gio/gio.h>

#include <optional>

namespace nolari::platform {

namespace {

// The boolean `key` of the schema `schemaId`, or nothing when the system
// lacks either. The schema is looked up first: GSettings ends the process
// when asked for one that is not installed.
std::optional<bool> booleanSetting(const char* schemaId, const char* key) {
  GSettingsSchemaSource* source = g_settings_schema_source_get_default();
  if (!source) return std::nullopt;
  GSettingsSchema* schema = g_settings_schema_source_lookup(source, schemaId, TRUE);
  if (!schema) return std::nullopt;
  std::optional<bool> value;
  if (g_settings_schema_has_key(schema, key)) {
    GSettingsSchemaKey* schemaKey = g_settings_schema_get_key(schema, key);
    if (g_variant_type_equal(g_settings_schema_key_get_value_type(schemaKey),
                             G_VARIANT_TYPE_BOOLEAN)) {
      GSettings* settings = g_settings_new_full(schema, nullptr, nullptr);
      value = g_settings_get_boolean(settings, key) != FALSE;
      g_object_unref(settings);
    }
    g_settings_schema_key_unref(schemaKey);
  }
  g_settings_schema_unref(schema);
  return value;
}

// GSettings reads through dconf, which watches for changes on GIO's shared
// session bus connection; by default that connection ends the process
// (SIGTERM) when the bus goes away. It is made here first, told not to, and
// held for the process's life, so that the same connection is the one shared.
void keepRunningWithoutTheSessionBus() {
  static GDBusConnection* const bus = [] {
    GDBusConnection* connection = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (connection) g_dbus_connection_set_exit_on_close(connection, FALSE);
    return connection;
  }();
  static_cast<void>(bus);
}

}  // namespace

DisplayOptions readGSettingsDisplayOptions() {
  keepRunningWithoutTheSessionBus();
  DisplayOptions options;
  const auto animations = booleanSetting("org.gnome.desktop.interface", "enable-animations");
  options.reduceMotion = animations.has_value() && !*animations;
  options.increaseContrast =
      booleanSetting("org.gnome.desktop.a11y.interface", "high-contrast").value_or(false);
  return options;
}

}  // namespace nolari::platform

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

}  // namespace

DisplayOptions readGSettingsDisplayOptions() {
  DisplayOptions options;
  const auto animations = booleanSetting("org.gnome.desktop.interface", "enable-animations");
  options.reduceMotion = animations.has_value() && !*animations;
  options.increaseContrast =
      booleanSetting("org.gnome.desktop.a11y.interface", "high-contrast").value_or(false);
  return options;
}

}  // namespace nolari::platform

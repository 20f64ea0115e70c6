#pragma once

#include <glib-object.h>

#include <memory>

// Ownership of the bus library's reference-counted objects and of the strings
// and structures it hands over to be freed.

namespace nolari::platform {

struct AtspiUnref {
  void operator()(gpointer object) const { g_object_unref(object); }
};
template <class T>
using AtspiRef = std::unique_ptr<T, AtspiUnref>;

struct AtspiFree {
  void operator()(gpointer memory) const { g_free(memory); }
};
using AtspiString = std::unique_ptr<gchar, AtspiFree>;

}  // namespace nolari::platform

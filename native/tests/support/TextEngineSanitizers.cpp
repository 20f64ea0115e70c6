// The text engine's libraries, which the sanitizers do not instrument: pango
// loads fontconfig's configuration on a thread of its own, and GLib's D-Bus
// thread (under the display settings) frees what the caller's thread made,
// both synchronised in ways the thread checker cannot see; fontconfig keeps
// its configuration for the life of the process, which the leak checker
// reports when several processes build its cache at once. The sanitizers ask
// the program for these, so each test program that draws text or reads the
// display settings links this file once.

// NOLINTNEXTLINE(bugprone-reserved-identifier): the sanitizers' own hook.
extern "C" const char* __tsan_default_suppressions() {
  return "race:libfontconfig.so\nrace:libglib-2.0.so\nrace:libgio-2.0.so\nrace:libpango-1.0.so\n";
}
// NOLINTNEXTLINE(bugprone-reserved-identifier): the sanitizers' own hook.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

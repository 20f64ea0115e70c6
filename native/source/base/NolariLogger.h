#pragma once

#include <string>
#include <string_view>

#include "base/LineSink.h"

// Log lines "[component] [LEVEL] message" on standard error and, when
// `logToFile` is set, appended to "logs/nolari.log" under the working directory.

namespace nolari::NolariLogger {

// Standard error lines go to `sink` (a queued writer, so that logging never
// waits for the parent) instead of being written in the caller's thread;
// nullptr goes back to that. Set at start-up and cleared before `sink` ends.
void setStandardErrorSink(LineSink* sink);

// Both settings are written once at start-up, before any other thread exists.
void setComponent(std::string_view component);
const std::string& component();
void setLogToFile(bool enabled);
bool logToFile();

void debug(std::string_view message);
void info(std::string_view message);
void warn(std::string_view message);
void error(std::string_view message);

}  // namespace nolari::NolariLogger

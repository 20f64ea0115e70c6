#pragma once

#include <string_view>

// Raw writes for the output and log facilities. They go through write(2) rather
// than a stream so that a closed pipe or a full disk is an ignored error
// instead of a crash or a stuck buffer.

namespace nolari::LineWriter {

// Writes all of `bytes`, resuming after interruptions and short writes. False
// when the descriptor refused the rest (closed pipe, full disk).
bool writeAll(int fd, std::string_view bytes);

// Each call's bytes reach the stream together: calls for the same stream are
// serialised within the process, so lines from different threads never mix.
void writeToStandardOutput(std::string_view line);
void writeToStandardError(std::string_view line);

}  // namespace nolari::LineWriter

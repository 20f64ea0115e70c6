#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// Opening paths that come from outside (a scene, a speech script, a recording)
// without ever blocking on them: only regular files are read, since a FIFO
// can block the opener or the reader for ever and a device may never end.

namespace nolari::FileInput {

// A descriptor open for reading on the regular file at `path`, or -1 with
// `error` saying why ("is a directory", "is not a regular file", "the path
// holds a NUL byte", or the system's words). The caller closes it.
int openRegularFile(const std::string& path, std::string& error);

// The same, with `error` a message naming the path and what it should have
// been (`kind`, e.g. "an audio file"): "<path> is a directory, not an audio
// file", or "cannot open <path>".
int openRegularFileAs(const std::string& path, std::string_view kind, std::string& error);

// The whole of the regular file at `path`, refused when it holds more than
// `maxBytes`.
std::optional<std::string> readRegularFile(const std::string& path, std::size_t maxBytes,
                                           std::string& error);

}  // namespace nolari::FileInput

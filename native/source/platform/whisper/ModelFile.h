#pragma once

#include <cstdint>
#include <optional>
#include <string>

// The checks a whisper model file passes before the engine's loader sees it.
// The loader trusts the file: it reads sizes from a short header as they come,
// and "loads" a file cut after its vocabulary with no weights at all.

namespace nolari::platform {

struct WhisperModelFacts {
  // Models of many languages have the language tokens in their vocabulary.
  bool multilingual = false;
};

// Walks the legacy ggml-format whisper model open on `fd` (`size` bytes): the
// header, the mel filters, the vocabulary and every tensor record, each
// bound-checked against the file's size, and the tensor count against the
// header's layers. Returns what is wrong, worded to follow the file's name
// ("is truncated: …", "is not a whisper model file (bad magic)"), or nothing.
std::optional<std::string> checkWhisperModel(int fd, std::uint64_t size, WhisperModelFacts& facts);

}  // namespace nolari::platform

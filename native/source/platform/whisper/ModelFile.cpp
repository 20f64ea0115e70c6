#include "platform/whisper/ModelFile.h"

#include <ggml.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace nolari::platform {

namespace {

constexpr std::uint32_t MAGIC = 0x67676d6c;  // "ggml"
// The special tokens' ids lie past the English vocabulary: a smaller one
// leaves them out of the embedding.
constexpr std::int32_t MIN_VOCAB = 51864;
constexpr std::int32_t MULTILINGUAL_VOCAB = 51865;
constexpr std::int32_t MAX_VOCAB = 1 << 20;
// Every whisper model sees 30 seconds as 1500 audio frames and holds 448 text
// tokens; the engine's graphs assume both, and may abort on other values.
constexpr std::int32_t AUDIO_CONTEXT = 1500;
constexpr std::int32_t TEXT_CONTEXT = 448;
constexpr std::int32_t MAX_STATE = 1 << 14;
constexpr std::int32_t MAX_HEADS = 1 << 10;
constexpr std::int32_t MAX_LAYERS = 1 << 8;
constexpr std::int32_t FFT_BINS = 201;  // 1 + 400 / 2
constexpr std::int32_t MAX_TOKEN_BYTES = 1 << 10;
constexpr std::int32_t MAX_NAME_BYTES = 1 << 8;
// The tensors each part of the model has (the loader's own table).
constexpr std::int64_t FIXED_TENSORS = 11;
constexpr std::int64_t AUDIO_LAYER_TENSORS = 15;
constexpr std::int64_t TEXT_LAYER_TENSORS = 24;

// Buffered reads from the descriptor, never past `size`.
class Reader {
 public:
  Reader(int fd, std::uint64_t size) : fd_(fd), size_(size) {}

  std::uint64_t position() const { return position_; }
  std::uint64_t left() const { return size_ - position_; }

  bool read(void* out, std::size_t count) {
    if (count > left()) return false;
    auto* bytes = static_cast<char*>(out);
    while (count > 0) {
      if (bufferAt_ == buffer_.size() && !fill()) return false;
      std::size_t take = std::min(count, buffer_.size() - bufferAt_);
      std::memcpy(bytes, buffer_.data() + bufferAt_, take);
      bufferAt_ += take;
      position_ += take;
      bytes += take;
      count -= take;
    }
    return true;
  }

  template <typename T>
  bool read(T& value) {
    return read(&value, sizeof value);
  }

  bool skip(std::uint64_t count) {
    if (count > left()) return false;
    std::uint64_t buffered = buffer_.size() - bufferAt_;
    if (count <= buffered) {
      bufferAt_ += count;
    } else {
      buffer_.clear();
      bufferAt_ = 0;
    }
    position_ += count;
    return true;
  }

  const std::string& failure() const { return failure_; }

 private:
  bool fill() {
    buffer_.resize(static_cast<std::size_t>(std::min<std::uint64_t>(BUFFER_BYTES, left())));
    bufferAt_ = 0;
    std::size_t got = 0;
    while (got < buffer_.size()) {
      ssize_t n = ::pread(fd_, buffer_.data() + got, buffer_.size() - got,
                          static_cast<off_t>(position_ + got));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        failure_ = n < 0 ? std::strerror(errno) : "the file shrank while it was read";
        buffer_.clear();
        return false;
      }
      got += static_cast<std::size_t>(n);
    }
    return true;
  }

  static constexpr std::uint64_t BUFFER_BYTES = 1 << 16;
  int fd_;
  std::uint64_t size_;
  std::uint64_t position_ = 0;
  std::vector<char> buffer_;
  std::size_t bufferAt_ = 0;
  std::string failure_;
};

std::string truncated(const Reader& reader, const std::string& where) {
  if (!reader.failure().empty()) {
    std::string out = "cannot be read: ";
    out += reader.failure();
    return out;
  }
  std::string out = "is truncated: it ends in ";
  out += where;
  out += " at byte ";
  out += std::to_string(reader.position());
  return out;
}

std::string invalid(const std::string& what) {
  std::string out = "is not a valid whisper model: ";
  out += what;
  return out;
}

// "tensor 12 has a bad shape", built by appending.
std::string numbered(const char* before, std::int64_t number, const char* after) {
  std::string out = before;
  out += std::to_string(number);
  out += after;
  return out;
}

bool within(std::int32_t value, std::int32_t low, std::int32_t high) {
  return value >= low && value <= high;
}

// The weight types whisper.cpp's models come in, plain and quantised. The
// engine aborts the process on a type it cannot map, so nothing else passes.
bool knownWeightType(std::int32_t ftype) {
  switch (static_cast<wsp_ggml_ftype>(ftype)) {
    case WSP_GGML_FTYPE_ALL_F32:
    case WSP_GGML_FTYPE_MOSTLY_F16:
    case WSP_GGML_FTYPE_MOSTLY_Q4_0:
    case WSP_GGML_FTYPE_MOSTLY_Q4_1:
    case WSP_GGML_FTYPE_MOSTLY_Q5_0:
    case WSP_GGML_FTYPE_MOSTLY_Q5_1:
    case WSP_GGML_FTYPE_MOSTLY_Q8_0:
    case WSP_GGML_FTYPE_MOSTLY_Q2_K:
    case WSP_GGML_FTYPE_MOSTLY_Q3_K:
    case WSP_GGML_FTYPE_MOSTLY_Q4_K:
    case WSP_GGML_FTYPE_MOSTLY_Q5_K:
    case WSP_GGML_FTYPE_MOSTLY_Q6_K:
      return true;
    default:
      return false;
  }
}

struct Header {
  std::int32_t vocab, audioContext, audioState, audioHeads, audioLayers;
  std::int32_t textContext, textState, textHeads, textLayers, mels, ftype;
};

std::optional<std::string> checkHeader(const Header& h) {
  if (!within(h.vocab, MIN_VOCAB, MAX_VOCAB)) {
    return invalid(numbered("a vocabulary of ", h.vocab, " tokens"));
  }
  if (h.audioContext != AUDIO_CONTEXT || h.textContext != TEXT_CONTEXT ||
      !within(h.audioState, 1, MAX_STATE) || h.textState != h.audioState ||
      !within(h.audioHeads, 1, MAX_HEADS) || !within(h.textHeads, 1, MAX_HEADS) ||
      h.audioState % h.audioHeads != 0 || h.textState % h.textHeads != 0 ||
      !within(h.audioLayers, 1, MAX_LAYERS) || !within(h.textLayers, 1, MAX_LAYERS)) {
    return invalid("its dimensions are out of range");
  }
  if (h.mels != 80 && h.mels != 128) return invalid(numbered("", h.mels, " mel bands"));
  if (h.ftype < 0 || !knownWeightType(h.ftype % WSP_GGML_QNT_VERSION_FACTOR)) {
    return invalid(numbered("an unknown weight type ", h.ftype, ""));
  }
  return std::nullopt;
}

std::optional<std::string> checkTensors(Reader& reader, const Header& header) {
  const std::int64_t expected = FIXED_TENSORS + AUDIO_LAYER_TENSORS * header.audioLayers +
                                TEXT_LAYER_TENSORS * header.textLayers;
  std::int64_t count = 0;
  while (reader.left() > 0) {
    std::int32_t fields[3];
    if (!reader.read(fields, sizeof fields)) return truncated(reader, "a tensor's header");
    const auto [dims, nameBytes, type] = fields;
    if (!within(dims, 1, 4) || !within(nameBytes, 1, MAX_NAME_BYTES) ||
        !within(type, 0, WSP_GGML_TYPE_COUNT - 1)) {
      return invalid(numbered("tensor ", count, " has a malformed header"));
    }
    const auto ggmlType = static_cast<wsp_ggml_type>(type);
    const std::int64_t block = wsp_ggml_blck_size(ggmlType);
    const std::size_t blockBytes = wsp_ggml_type_size(ggmlType);
    std::int64_t elements = 1;
    for (std::int32_t i = 0; i < dims; ++i) {
      std::int32_t extent = 0;
      if (!reader.read(extent)) return truncated(reader, "a tensor's header");
      // The loader counts elements in 32 bits.
      if (extent < 1 || elements * extent > INT32_MAX) {
        return invalid(numbered("tensor ", count, " has a bad shape"));
      }
      elements *= extent;
    }
    if (block < 1 || blockBytes == 0 || elements % block != 0) {
      return invalid(numbered("tensor ", count, " has an unusable type"));
    }
    if (!reader.skip(static_cast<std::uint64_t>(nameBytes))) {
      return truncated(reader, "a tensor's name");
    }
    if (!reader.skip(static_cast<std::uint64_t>(elements / block) * blockBytes)) {
      return truncated(reader, numbered("the weights of tensor ", count, ""));
    }
    ++count;
  }
  if (count != expected) {
    std::string out = "is truncated: it holds ";
    out += std::to_string(count);
    out += " of the model's ";
    out += std::to_string(expected);
    out += " tensors";
    return out;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> checkWhisperModel(int fd, std::uint64_t size, WhisperModelFacts& facts) {
  Reader reader(fd, size);
  std::uint32_t magic = 0;
  if (!reader.read(magic)) {
    if (!reader.failure().empty()) return truncated(reader, "its magic number");
    return std::string("is not a whisper model file (it is too short)");
  }
  if (magic != MAGIC) return std::string("is not a whisper model file (bad magic)");
  Header header{};
  if (!reader.read(header)) return truncated(reader, "the header");
  if (auto bad = checkHeader(header)) return bad;

  std::int32_t mels = 0;
  std::int32_t bins = 0;
  if (!reader.read(mels) || !reader.read(bins)) return truncated(reader, "the mel filters");
  if (mels != header.mels || bins != FFT_BINS) return invalid("mel filters of an unknown shape");
  if (!reader.skip(static_cast<std::uint64_t>(mels) * bins * sizeof(float))) {
    return truncated(reader, "the mel filters");
  }

  std::int32_t tokens = 0;
  if (!reader.read(tokens)) return truncated(reader, "the vocabulary");
  if (!within(tokens, 0, header.vocab)) return invalid("a vocabulary of the wrong size");
  for (std::int32_t i = 0; i < tokens; ++i) {
    std::uint32_t length = 0;
    if (!reader.read(length)) return truncated(reader, "the vocabulary");
    if (length > MAX_TOKEN_BYTES) return invalid(numbered("token ", i, " is too long"));
    if (!reader.skip(length)) return truncated(reader, "the vocabulary");
  }
  if (reader.left() == 0)
    return std::string("is truncated: it has no weights after its vocabulary");
  if (auto bad = checkTensors(reader, header)) return bad;
  facts.multilingual = header.vocab >= MULTILINGUAL_VOCAB;
  return std::nullopt;
}

}  // namespace nolari::platform

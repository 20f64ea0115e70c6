#include "platform/sndfile/AudioReader.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>

#include "base/FileInput.h"

namespace nolari::platform {

namespace {

constexpr sf_count_t READ_BLOCK_FRAMES = 8192;
// Telephone speech is sampled at 8 kHz and studio masters at up to 384 kHz.
constexpr int MIN_SAMPLE_RATE = 4000;
constexpr int MAX_SAMPLE_RATE = 384000;
// Raising telephone speech to 16 kHz, the best converter leaves about 4 points fewer
// word errors than the fastest one, for 1% of real time; lowering a 48 kHz microphone's
// rate it would cost 3%, so the fastest one does that.
constexpr int UPSAMPLER = SRC_SINC_BEST_QUALITY;
constexpr int DOWNSAMPLER = SRC_SINC_FASTEST;

void append(const float* samples, size_t count, std::vector<int16_t>& out) {
  for (size_t i = 0; i < count; ++i) {
    float v = std::clamp(samples[i], -1.0f, 1.0f) * 32767.0f;
    out.push_back(static_cast<int16_t>(std::lrint(v)));
  }
}

void append(const float* samples, size_t count, std::vector<float>& out) {
  for (size_t i = 0; i < count; ++i) out.push_back(std::clamp(samples[i], -1.0f, 1.0f));
}

}  // namespace

std::unique_ptr<SndAudioFile> openSndAudioFile(const std::string& path, std::string& error) {
  const int fd = FileInput::openRegularFileAs(path, "an audio file", error);
  if (fd < 0) return nullptr;
  SF_INFO info{};
  SNDFILE* file = sf_open_fd(fd, SFM_READ, &info, SF_TRUE);
  if (!file) {
    ::close(fd);
    error = "cannot read " + path + " as audio: " + sf_strerror(nullptr);
    return nullptr;
  }
  if (info.channels < 1 || info.samplerate < 1) {
    sf_close(file);
    error = "cannot read " + path + " as audio: no channels or no sample rate";
    return nullptr;
  }
  // The resampler's buffers grow with the ratio to the engine's rate: a header
  // claiming 1 Hz would ask for hundreds of megabytes.
  if (info.samplerate < MIN_SAMPLE_RATE || info.samplerate > MAX_SAMPLE_RATE) {
    sf_close(file);
    error = "cannot read " + path + " as audio: a sample rate of ";
    error += std::to_string(info.samplerate);
    error += " Hz is outside what a recording has";
    return nullptr;
  }
  return std::make_unique<SndAudioFile>(file, info);
}

MonoReader::MonoReader(SndAudioFile& audio, int rate) : audio_(audio), rate_(rate) {
  channels_ = std::max(1, audio.info.channels);
  ratio_ = static_cast<double>(rate) / std::max(1, audio.info.samplerate);
  if (audio.info.samplerate != rate) {
    int error = 0;
    resampler_ = src_new(audio.info.samplerate < rate ? UPSAMPLER : DOWNSAMPLER, 1, &error);
  }
}

MonoReader::~MonoReader() {
  if (resampler_) src_delete(resampler_);
}

bool MonoReader::resamplerReady() const {
  return audio_.info.samplerate == rate_ || resampler_ != nullptr;
}

bool MonoReader::next(std::vector<int16_t>& out, std::string& error) { return read(out, error); }

bool MonoReader::next(std::vector<float>& out, std::string& error) { return read(out, error); }

template <typename Sample>
bool MonoReader::read(std::vector<Sample>& out, std::string& error) {
  if (finished_) return false;
  interleaved_.resize(static_cast<size_t>(READ_BLOCK_FRAMES) * channels_);
  sf_count_t got = sf_readf_float(audio_.file, interleaved_.data(), READ_BLOCK_FRAMES);
  if (got < 0 || (got == 0 && sf_error(audio_.file) != SF_ERR_NO_ERROR)) {
    error = std::string("cannot read audio: ") + sf_strerror(audio_.file);
    return false;
  }
  bool last = got < READ_BLOCK_FRAMES;
  mono_.assign(static_cast<size_t>(got), 0.0f);
  for (sf_count_t i = 0; i < got; ++i) {
    float sum = 0;
    for (int c = 0; c < channels_; ++c) sum += interleaved_[static_cast<size_t>(i) * channels_ + c];
    mono_[static_cast<size_t>(i)] = sum / static_cast<float>(channels_);
  }
  if (!resampler_) {
    append(mono_.data(), mono_.size(), out);
  } else {
    const double resampledFrames = std::ceil(static_cast<double>(mono_.size()) * ratio_);
    resampled_.resize(static_cast<size_t>(resampledFrames) + 64);
    SRC_DATA data{};
    data.data_in = mono_.data();
    data.input_frames = static_cast<long>(mono_.size());
    data.src_ratio = ratio_;
    data.end_of_input = last ? 1 : 0;
    // The converter may hold input back; call again until it has taken it all
    // and, at the end, drained its tail.
    for (;;) {
      data.data_out = resampled_.data();
      data.output_frames = static_cast<long>(resampled_.size());
      if (int rc = src_process(resampler_, &data); rc != 0) {
        error = std::string("cannot resample audio: ") + src_strerror(rc);
        return false;
      }
      append(resampled_.data(), static_cast<size_t>(data.output_frames_gen), out);
      data.data_in += data.input_frames_used;
      data.input_frames -= data.input_frames_used;
      if (data.input_frames == 0 && (!last || data.output_frames_gen == 0)) break;
    }
  }
  if (last) finished_ = true;
  return true;
}

}  // namespace nolari::platform

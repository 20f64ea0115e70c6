#include "AlsaRecorder.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>

namespace nolari::parent {

namespace {

// 20 ms reads: the meter moves smoothly and a release costs at most one block.
constexpr snd_pcm_uframes_t BLOCK_FRAMES = AlsaRecorder::RATE / 50;
// The device's buffer: enough for a loaded machine to fall behind without losing audio.
constexpr unsigned LATENCY_US = 100000;
// How long one wait for audio lasts before the recording checks whether it should end.
constexpr int WAIT_MS = 100;
// Per block, what the displayed level keeps of the previous one when the sound falls.
constexpr double FALL = 0.85;

}  // namespace

AlsaRecorder::AlsaRecorder(std::string device) : device_(std::move(device)) {}

AlsaRecorder::~AlsaRecorder() { stop(); }

bool AlsaRecorder::start(std::string& error) {
  if (recording()) return true;
  int status = snd_pcm_open(&pcm_, device_.c_str(), SND_PCM_STREAM_CAPTURE, 0);
  if (status >= 0) {
    status = snd_pcm_set_params(pcm_, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, 1, RATE,
                                1, LATENCY_US);
  }
  if (status >= 0) status = snd_pcm_start(pcm_);
  if (status < 0) {
    error = "cannot record from ALSA device \"";
    error.append(device_).append("\": ").append(snd_strerror(status));
    if (pcm_ != nullptr) snd_pcm_close(pcm_);
    pcm_ = nullptr;
    return false;
  }
  {
    std::lock_guard lock(mutex_);
    samples_.clear();
    failure_.clear();
  }
  level_ = 0.0;
  stopping_ = false;
  thread_ = std::thread([this] { read(); });
  return true;
}

std::vector<int16_t> AlsaRecorder::stop() {
  if (!recording()) return {};
  stopping_ = true;
  thread_.join();
  snd_pcm_close(pcm_);
  pcm_ = nullptr;
  level_ = 0.0;
  std::lock_guard lock(mutex_);
  return std::move(samples_);
}

std::string AlsaRecorder::failure() const {
  std::lock_guard lock(mutex_);
  return failure_;
}

double AlsaRecorder::blockLevel(const int16_t* samples, size_t count) {
  if (count == 0) return 0.0;
  double sum = 0.0;
  for (size_t i = 0; i < count; ++i) {
    const double value = samples[i] / 32768.0;
    sum += value * value;
  }
  const double db = 20.0 * std::log10(std::max(std::sqrt(sum / static_cast<double>(count)), 1e-9));
  return std::clamp((db + 50.0) / 40.0, 0.0, 1.0);
}

void AlsaRecorder::read() {
  std::vector<int16_t> block(BLOCK_FRAMES);
  while (!stopping_) {
    // A device that stops delivering must not hold up the end of the recording.
    if (snd_pcm_wait(pcm_, WAIT_MS) == 0) continue;
    snd_pcm_sframes_t got = snd_pcm_readi(pcm_, block.data(), BLOCK_FRAMES);
    if (got < 0) {
      // An overrun loses a block but not the recording.
      got = snd_pcm_recover(pcm_, static_cast<int>(got), 1);
      if (got < 0) {
        std::lock_guard lock(mutex_);
        failure_ = snd_strerror(static_cast<int>(got));
        return;
      }
      continue;
    }
    const auto frames = static_cast<size_t>(got);
    level_ = std::max(blockLevel(block.data(), frames), level_.load() * FALL);
    std::lock_guard lock(mutex_);
    samples_.insert(samples_.end(), block.begin(), block.begin() + static_cast<long>(frames));
  }
}

bool writeWav(const std::string& path, const std::vector<int16_t>& samples, std::string& error) {
  SF_INFO info{};
  info.samplerate = AlsaRecorder::RATE;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  if (file == nullptr) {
    error = sf_strerror(nullptr);
    return false;
  }
  const auto count = static_cast<sf_count_t>(samples.size());
  const bool complete = sf_write_short(file, samples.data(), count) == count;
  if (!complete) error = sf_strerror(file);
  sf_close(file);
  return complete;
}

}  // namespace nolari::parent

#pragma once

#include <alsa/asoundlib.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Records 16 kHz mono 16-bit audio from an ALSA capture device on a thread of its
// own, keeping a level for the recording meter. "default" is the user's
// microphone on a desktop, and the sound server's default source where one runs.

namespace nolari::parent {

class AlsaRecorder {
 public:
  static constexpr unsigned RATE = 16000;

  explicit AlsaRecorder(std::string device);
  ~AlsaRecorder();
  AlsaRecorder(const AlsaRecorder&) = delete;
  AlsaRecorder& operator=(const AlsaRecorder&) = delete;

  // Opens the device and starts reading; false with `error` when it cannot.
  bool start(std::string& error);
  // Ends the recording after the read in progress and hands over its samples.
  std::vector<int16_t> stop();
  bool recording() const { return thread_.joinable(); }
  // The meter's level, 0..1: rises at once, falls slowly.
  double level() const { return level_.load(); }
  // Why reading stopped early, or "".
  std::string failure() const;

  // The meter's reading of one block: -50 dBFS and below is 0, -10 dBFS and above is 1.
  static double blockLevel(const int16_t* samples, size_t count);

 private:
  void read();

  std::string device_;
  snd_pcm_t* pcm_ = nullptr;
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  std::atomic<double> level_{0.0};
  mutable std::mutex mutex_;
  std::vector<int16_t> samples_;
  std::string failure_;
};

// Writes the samples as a 16-bit mono WAV file at the recorder's rate.
bool writeWav(const std::string& path, const std::vector<int16_t>& samples, std::string& error);

}  // namespace nolari::parent

#pragma once

#include <samplerate.h>
#include <sndfile.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Speech.h"

// Audio files read with libsndfile as mono samples at a speech engine's rate,
// resampled with libsamplerate: what every on-device engine reads its input with.

namespace nolari::platform {

class SndAudioFile : public SpeechAudioFile {
 public:
  SndAudioFile(SNDFILE* file, SF_INFO info) : file(file), info(info) {}
  ~SndAudioFile() override { sf_close(file); }
  SndAudioFile(const SndAudioFile&) = delete;
  SndAudioFile& operator=(const SndAudioFile&) = delete;

  SNDFILE* file;
  SF_INFO info;
};

// Null with `error` naming the path when it is not a regular file holding
// audio at a plausible rate.
std::unique_ptr<SndAudioFile> openSndAudioFile(const std::string& path, std::string& error);

// Reads a file block by block as mono samples at `rate`; the whole file is
// never held at once.
class MonoReader {
 public:
  MonoReader(SndAudioFile& audio, int rate);
  ~MonoReader();
  MonoReader(const MonoReader&) = delete;
  MonoReader& operator=(const MonoReader&) = delete;

  bool resamplerReady() const;

  // Append the next samples to `out`, as 16-bit integers or as floats in
  // [-1, 1]; false at the end of the file or on failure, with `error` set.
  bool next(std::vector<int16_t>& out, std::string& error);
  bool next(std::vector<float>& out, std::string& error);

 private:
  template <typename Sample>
  bool read(std::vector<Sample>& out, std::string& error);

  SndAudioFile& audio_;
  int rate_;
  int channels_ = 1;
  double ratio_ = 1.0;
  SRC_STATE* resampler_ = nullptr;
  bool finished_ = false;
  std::vector<float> interleaved_;
  std::vector<float> mono_;
  std::vector<float> resampled_;
};

}  // namespace nolari::platform

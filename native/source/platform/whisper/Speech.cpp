#include "platform/whisper/Speech.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <whisper.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <thread>

#include "base/FileInput.h"
#include "base/NolariLogger.h"
#include "base/TextEncoding.h"
#include "platform/sndfile/AudioReader.h"

namespace nolari::platform {

namespace {

constexpr const char* ENGLISH = "en-US";
constexpr int MODEL_RATE = WHISPER_SAMPLE_RATE;
constexpr int MAX_THREADS = 4;
// Audio goes to the engine in pieces of at most this long, so that memory
// stays bounded whatever the length of the file.
constexpr int PIECE_SECONDS = 300;
// The engine keeps only the prompt's last couple of hundred tokens anyway.
constexpr std::size_t MAX_PROMPT_BYTES = 1000;
// Decoding steps (per decoder, across temperature fallbacks) allowed per second
// of audio, and at least. Speech needs a few a second. Where a model keeps
// failing its checks, each of its fallbacks may decode to the context limit:
// past the budget the audio is decoded again in one greedy pass, which stops
// at that limit once per 30-second window.
constexpr double MAX_STEPS_PER_SECOND = 40.0;
constexpr long MIN_STEPS = 100;

// "en_US", "EN-us" and "en" all name English; "de-DE" names "de".
std::string primaryLanguage(const std::string& localeId) {
  std::string normal = TextEncoding::lowerASCII(localeId);
  return normal.substr(0, normal.find_first_of("-_"));
}

std::string_view trimmed(std::string_view text) {
  const auto space = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
  while (!text.empty() && space(text.front())) text.remove_prefix(1);
  while (!text.empty() && space(text.back())) text.remove_suffix(1);
  return text;
}

// The engine's chatter goes to the log, never to standard output, which
// carries the protocol; only its errors are worth a line.
void logFromEngine(wsp_ggml_log_level level, const char* text, void* /*unused*/) {
  if (level != WSP_GGML_LOG_LEVEL_ERROR || !text) return;
  std::string_view line = trimmed(text);
  if (line.empty()) return;
  std::string message = "whisper: ";
  message += line;
  NolariLogger::warn(message);
}

// The engine reads the model through the descriptor the checks were made on.
struct FdLoader {
  int fd;
  bool ended = false;

  static std::size_t read(void* context, void* output, std::size_t size) {
    auto& self = *static_cast<FdLoader*>(context);
    std::size_t got = 0;
    while (got < size) {
      ssize_t n = ::read(self.fd, static_cast<char*>(output) + got, size - got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        self.ended = true;
        break;
      }
      got += static_cast<std::size_t>(n);
    }
    return got;
  }
  static bool eof(void* context) { return static_cast<FdLoader*>(context)->ended; }
  static void close(void* /*context*/) {}
};

// Once the budget is spent, only the end of the text may follow.
struct StepBudget {
  long left;
  whisper_token endOfText;
  bool spent = false;
};

void limitSteps(whisper_context* context, whisper_state* /*state*/,
                const whisper_token_data* /*tokens*/, int /*count*/, float* logits,
                void* userData) {
  auto& budget = *static_cast<StepBudget*>(userData);
  if (budget.left > 0) {
    --budget.left;
    return;
  }
  budget.spent = true;
  const int vocabulary = whisper_n_vocab(context);
  for (int i = 0; i < vocabulary; ++i) {
    if (i != budget.endOfText) logits[i] = -INFINITY;
  }
}

// The contextual strings as the text that came before, whole strings only.
std::string promptFrom(const std::vector<std::string>& contextualStrings) {
  std::string prompt;
  for (const std::string& phrase : contextualStrings) {
    std::string clean(trimmed(phrase));
    std::replace(clean.begin(), clean.end(), '\0', ' ');
    if (clean.empty()) continue;
    if (prompt.size() + clean.size() + 2 > MAX_PROMPT_BYTES) break;
    if (!prompt.empty()) prompt += ", ";
    prompt += clean;
  }
  return prompt;
}

// The engine throws where a model lacks a token it counts on.
std::optional<std::string> decode(whisper_context* context, const whisper_full_params& params,
                                  const std::vector<float>& samples) {
  try {
    if (whisper_full(context, params, samples.data(), static_cast<int>(samples.size())) == 0) {
      return std::nullopt;
    }
    return std::string("the whisper engine failed to decode the audio");
  } catch (const std::exception& e) {
    std::string out = "the whisper engine failed to decode the audio: ";
    out += e.what();
    return out;
  }
}

}  // namespace

bool WhisperSpeech::FileIdentity::operator==(const FileIdentity& other) const {
  return device == other.device && inode == other.inode && size == other.size &&
         modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec;
}

WhisperSpeech::WhisperSpeech(std::string modelPath, int threads)
    : modelPath_(std::move(modelPath)), threads_(std::max(1, threads)) {
  whisper_log_set(logFromEngine, nullptr);
  wsp_ggml_log_set(logFromEngine, nullptr);
}

WhisperSpeech::~WhisperSpeech() {
  if (context_) whisper_free(context_);
}

// Half the processors: the engine's threads wait for each other by spinning,
// and on a machine busy with other work (the desktop, a build) threads that
// outnumber the free processors make a transcription many times slower.
int WhisperSpeech::defaultThreads() {
  const unsigned hardware = std::thread::hardware_concurrency();
  return std::clamp(static_cast<int>(hardware / 2), 1, MAX_THREADS);
}

std::optional<std::string> WhisperSpeech::checkModel(bool load) {
  std::string reason;
  const int fd = FileInput::openRegularFile(modelPath_, reason);
  if (fd < 0) {
    check_.reset();
    std::string out = "the whisper model ";
    out += modelPath_;
    if (reason.starts_with("is ")) {
      out += ' ';
      out += reason;
    } else if (reason == std::strerror(ENOENT)) {
      out += " is not found";
    } else {
      out += " cannot be opened: ";
      out += reason;
    }
    return out;
  }
  struct stat info {};
  ::fstat(fd, &info);
  const FileIdentity identity{info.st_dev, info.st_ino, info.st_size, info.st_mtim};
  if (!check_ || !(check_->identity == identity)) {
    check_ = Check{identity, std::nullopt, {}};
    if (auto bad = checkWhisperModel(fd, static_cast<std::uint64_t>(info.st_size), check_->facts)) {
      std::string failure = "the whisper model ";
      failure += modelPath_;
      failure += ' ';
      failure += *bad;
      check_->failure = std::move(failure);
    }
  }
  std::optional<std::string> failure = check_->failure;
  if (!failure && load && !(context_ && loaded_ == identity)) {
    if (context_) whisper_free(context_);
    context_ = nullptr;
    FdLoader source{fd};
    whisper_model_loader loader{&source, &FdLoader::read, &FdLoader::eof, &FdLoader::close};
    whisper_context_params params = whisper_context_default_params();
    params.use_gpu = false;
    context_ = whisper_init_with_params(&loader, params);
    if (context_) {
      loaded_ = identity;
      NolariLogger::info("whisper model loaded from " + modelPath_);
    } else {
      std::string message = "the whisper model ";
      message += modelPath_;
      message += " could not be loaded by the engine";
      failure = message;
      check_->failure = failure;
    }
  }
  ::close(fd);
  return failure;
}

void WhisperSpeech::prepare(const std::string& /*localeId*/) {
  std::lock_guard lock(mutex_);
  // What is wrong with the file is told by the analysis that needs it.
  checkModel(true);
}

std::optional<std::string> WhisperSpeech::languageOf(const std::string& localeId) {
  std::string language = primaryLanguage(localeId);
  if (language == "en") return language;
  std::lock_guard lock(mutex_);
  if (checkModel(false) || !check_->facts.multilingual) return std::nullopt;
  for (int id = 0; id <= whisper_lang_max_id(); ++id) {
    if (language == whisper_lang_str(id)) return language;
  }
  return std::nullopt;
}

// Recognition runs on this machine only; there is no permission to ask for.
SpeechAuthorization WhisperSpeech::authorizationStatus() { return SpeechAuthorization::authorized; }

void WhisperSpeech::requestAuthorization(std::function<void()> completion) { completion(); }

std::vector<std::string> WhisperSpeech::supportedLocales() {
  std::vector<std::string> locales{ENGLISH};
  std::lock_guard lock(mutex_);
  if (checkModel(false) || !check_->facts.multilingual) return locales;
  for (int id = 0; id <= whisper_lang_max_id(); ++id) {
    std::string language = whisper_lang_str(id);
    if (language != "en") locales.push_back(language);
  }
  return locales;
}

std::optional<std::string> WhisperSpeech::supportedLocaleEquivalentTo(const std::string& localeId) {
  auto language = languageOf(localeId);
  if (!language) return std::nullopt;
  return *language == "en" ? std::string(ENGLISH) : *language;
}

SpeechAssetStatus WhisperSpeech::assetStatus(const std::string& localeId) {
  if (primaryLanguage(localeId) != "en" && !languageOf(localeId)) {
    return SpeechAssetStatus::unsupported;
  }
  std::lock_guard lock(mutex_);
  return checkModel(false) ? SpeechAssetStatus::supported : SpeechAssetStatus::installed;
}

std::unique_ptr<AssetInstallation> WhisperSpeech::assetInstallationRequest(
    const std::string& localeId, std::string& error) {
  if (primaryLanguage(localeId) != "en" && !languageOf(localeId)) {
    error = "no speech model is available for locale ";
    error += localeId;
    error += " on this machine";
    return nullptr;
  }
  std::lock_guard lock(mutex_);
  if (auto failure = checkModel(false)) {
    error = *failure;
    error += "; whisper models are not downloaded from here: NOLARI_SPEECH_MODEL names the file";
  }
  return nullptr;
}

std::unique_ptr<SpeechAudioFile> WhisperSpeech::openAudioFile(const std::string& path,
                                                              std::string& error) {
  return openSndAudioFile(path, error);
}

std::optional<std::string> WhisperSpeech::analyze(SpeechAudioFile& file,
                                                  const std::string& localeId,
                                                  const std::vector<std::string>& contextualStrings,
                                                  const ResultHandler& onResult) {
  auto language = languageOf(localeId);
  if (!language) return "no speech model is available for locale " + localeId;
  std::lock_guard lock(mutex_);
  if (auto failure = checkModel(true)) return failure;

  auto& audio = static_cast<SndAudioFile&>(file);
  MonoReader reader(audio, MODEL_RATE);
  if (!reader.resamplerReady()) return std::string("cannot resample audio from its rate");
  const std::string prompt = promptFrom(contextualStrings);

  whisper_full_params params = whisper_full_default_params(WHISPER_SAMPLING_GREEDY);
  params.n_threads = threads_;
  params.language = language->c_str();
  params.initial_prompt = prompt.empty() ? nullptr : prompt.c_str();
  params.print_progress = false;
  params.print_realtime = false;
  params.print_special = false;
  params.print_timestamps = false;
  params.logits_filter_callback = limitSteps;
  whisper_full_params greedy = params;
  greedy.temperature_inc = 0;
  greedy.logits_filter_callback = nullptr;

  const std::size_t pieceSamples = static_cast<std::size_t>(PIECE_SECONDS) * MODEL_RATE;
  std::vector<float> samples;
  std::size_t offset = 0;
  std::string error;
  bool more = true;
  while (more) {
    samples.clear();
    while (more && samples.size() < pieceSamples) more = reader.next(samples, error);
    if (!error.empty()) return error;
    if (samples.empty()) break;
    const double seconds = static_cast<double>(samples.size()) / MODEL_RATE;
    StepBudget budget{std::max(MIN_STEPS, std::lround(seconds * MAX_STEPS_PER_SECOND)),
                      whisper_token_eot(context_)};
    params.logits_filter_callback_user_data = &budget;
    if (auto failure = decode(context_, params, samples)) return failure;
    if (budget.spent) {
      if (auto failure = decode(context_, greedy, samples)) return failure;
    }
    const double start = static_cast<double>(offset) / MODEL_RATE;
    const double end = static_cast<double>(offset + samples.size()) / MODEL_RATE;
    const int count = whisper_full_n_segments(context_);
    for (int i = 0; i < count; ++i) {
      const char* text = whisper_full_get_segment_text(context_, i);
      SpeechResult result;
      result.text = trimmed(text ? text : "");
      if (result.text.empty()) continue;
      // The engine's times are in hundredths of a second and may run past
      // the audio's end.
      result.start =
          std::clamp(start + static_cast<double>(whisper_full_get_segment_t0(context_, i)) / 100.0,
                     start, end);
      result.end =
          std::clamp(start + static_cast<double>(whisper_full_get_segment_t1(context_, i)) / 100.0,
                     result.start, end);
      onResult(result);
    }
    offset += samples.size();
  }
  return std::nullopt;
}

}  // namespace nolari::platform

#include "platform/pocketsphinx/Speech.h"

#include <malloc.h>
#include <pocketsphinx.h>
#include <sphinxbase/ngram_model.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <utility>

#include "base/TextEncoding.h"
#include "platform/SpeechTextFormatter.h"
#include "platform/sndfile/AudioReader.h"

extern "C" {
#include <flite/cst_lexicon.h>
#include <flite/cst_val.h>
cst_lexicon* cmu_lex_init(void);
}

namespace nolari::platform {

namespace {

constexpr const char* ENGLISH = "en-US";
constexpr int MODEL_RATE = 16000;
constexpr int FRAMES_PER_SECOND = 100;
constexpr int SAMPLES_PER_FRAME = MODEL_RATE / FRAMES_PER_SECOND;
// Long recordings are decoded as a series of utterances cut in pauses, so that
// memory stays bounded whatever the length of the file.
constexpr double MIN_UTTERANCE_SECONDS = 15.0;
constexpr double MAX_UTTERANCE_SECONDS = 30.0;
constexpr int CUT_PAUSE_FRAMES = 30;
constexpr double QUIET_FRAME_RMS = 200.0;
// Below this level throughout, an utterance is silence.
constexpr double SILENT_FRAME_RMS = 30.0;
// A frame at least this loud belongs to a word's sound.
constexpr double ONSET_FRAME_RMS = 80.0;
// A pause at least this long between two words starts a new phrase.
constexpr double PHRASE_PAUSE_SECONDS = 0.5;
// How far from the decoder's start of a phrase its sound's onset is looked for.
constexpr double ONSET_REACH_SECONDS = 0.3;
// Weight of the phrase model built from contextual strings beside the main one.
constexpr float CONTEXT_WEIGHT = 0.15f;
// Every word a set brings beyond the main model stays in the dictionary and in
// the search's tree. Past this many, the engine is loaded afresh before the
// next request, so that memory stays bounded however many sets come.
constexpr size_t MAX_ADDED_WORDS = 3000;
// The names of the two models in the search's set.
constexpr const char* MAIN_MODEL = "main";
constexpr const char* CONTEXT_MODEL = "context";
constexpr const char* SEARCH = "dictation";
// Warming up decodes this long a stretch of faint noise.
constexpr double PRIMING_SECONDS = 1.0;
// Bounds on what contextual strings may add, so that a huge list stays quick.
constexpr size_t MAX_CONTEXT_PHRASES = 2000;
constexpr size_t MAX_PHRASE_WORDS = 12;
constexpr size_t MAX_WORD_LETTERS = 40;

// "en_US", "EN-us" and "en" all name the US English model.
bool namesEnglish(const std::string& localeId) {
  std::string normal = TextEncoding::lowerASCII(localeId);
  std::replace(normal.begin(), normal.end(), '_', '-');
  return normal == "en-us" || normal == "en";
}

// Lower-case words of letters and apostrophes; anything else separates words.
std::vector<std::string> phraseWords(const std::string& phrase) {
  std::vector<std::string> words;
  std::string current;
  auto flush = [&] {
    while (!current.empty() && current.front() == '\'') current.erase(current.begin());
    while (!current.empty() && current.back() == '\'') current.pop_back();
    if (!current.empty() && current.size() <= MAX_WORD_LETTERS) words.push_back(current);
    current.clear();
  };
  for (char c : phrase) {
    unsigned char u = static_cast<unsigned char>(c);
    if (std::isalpha(u) && u < 0x80) {
      current += static_cast<char>(std::tolower(u));
    } else if (c == '\'' && !current.empty()) {
      current += c;
    } else {
      flush();
    }
  }
  flush();
  if (words.size() > MAX_PHRASE_WORDS) words.resize(MAX_PHRASE_WORDS);
  return words;
}

}  // namespace

// The loaded model, the decoder and the phrase models built for contextual
// strings. Used by one analysis at a time.
class PocketSpeech::Engine {
 public:
  static std::unique_ptr<Engine> load(const std::string& modelDir, std::string& error) {
    std::string hmm = modelDir + "/en-us";
    std::string lm = modelDir + "/en-us.lm.bin";
    std::string dict = modelDir + "/cmudict-en-us.dict";
    // Whole-file decoding: with silence removal on, words after a pause get
    // early times. No language model here: the one search is built below.
    cmd_ln_t* config = cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", hmm.c_str(), "-dict",
                                   dict.c_str(), "-remove_silence", "no", "-logfn", "/dev/null",
                                   // Narrower beams than the engine's defaults: about a third
                                   // faster at the same accuracy on dictation.
                                   "-maxhmmpf", "3000", "-maxwpf", "5", nullptr);
    if (!config) {
      error = "speech model configuration rejected for " + modelDir;
      return nullptr;
    }
    ps_decoder_t* decoder = ps_init(config);
    if (!decoder) {
      cmd_ln_free_r(config);
      error = "speech model could not be loaded from " + modelDir;
      return nullptr;
    }
    auto engine = std::unique_ptr<Engine>(new Engine(config, decoder));
    engine->mainLm_ = ngram_model_read(config, lm.c_str(), NGRAM_AUTO, ps_get_logmath(decoder));
    if (!engine->mainLm_) {
      error = "speech language model could not be read from " + lm;
      return nullptr;
    }
    // One search for every request, over a set of the main model and, beside
    // it, the model of the current request's contextual strings, swapped in
    // place. The search wraps the set in one of its own and reads words
    // through it: the set's vocabulary decides which words its tree holds.
    std::string mainName = MAIN_MODEL;
    char* names[1] = {mainName.data()};
    ngram_model_t* models[1] = {engine->mainLm_};
    engine->set_ = ngram_model_set_init(config, models, names, nullptr, 1);
    if (!engine->set_) {
      error = "the recogniser could not build its search";
      return nullptr;
    }
    // Mapped once to the main model's own words, the set takes words of its own.
    const auto mainWords = static_cast<int32>(ngram_model_get_counts(engine->mainLm_)[0]);
    std::vector<const char*> words(static_cast<size_t>(mainWords));
    for (int32 i = 0; i < mainWords; ++i)
      words[static_cast<size_t>(i)] = ngram_word(engine->mainLm_, i);
    ngram_model_set_map_words(engine->set_, words.data(), mainWords);
    if (!engine->rebuildSearch()) {
      error = "the recogniser could not build its search";
      return nullptr;
    }
    return engine;
  }

  ~Engine() {
    // The search holds its own reference to the set, and the set to its models.
    ps_free(decoder_);
    if (set_) ngram_model_free(set_);
    if (mainLm_) ngram_model_free(mainLm_);
    cmd_ln_free_r(config_);
  }

  // Whether the engine holds more words of its own than it should keep.
  bool full() const { return addedWords_ > MAX_ADDED_WORDS; }

  // The first decode pays for pages and tables touched the first time: a
  // stretch of faint noise pays it here, and a word through the letter-to-sound
  // rules loads the synthesiser's lexicon.
  void warmUp() {
    pronounce("warm");
    std::vector<int16_t> noise(static_cast<size_t>(PRIMING_SECONDS * MODEL_RATE));
    uint32_t state = 1;
    for (int16_t& sample : noise) {
      state = state * 1664525u + 1013904223u;
      sample = static_cast<int16_t>(static_cast<int>(state >> 24) - 128);
    }
    if (ps_start_utt(decoder_) < 0) return;
    ps_process_raw(decoder_, noise.data(), noise.size(), FALSE, TRUE);
    ps_end_utt(decoder_);
  }

  std::optional<std::string> analyze(SndAudioFile& audio,
                                     const std::vector<std::string>& contextualStrings,
                                     const ResultHandler& onResult) {
    if (!useContext(contextualStrings)) {
      return std::string("the recogniser could not select its language model");
    }
    MonoReader reader(audio, MODEL_RATE);
    if (!reader.resamplerReady()) return std::string("cannot resample audio from its rate");
    // A fresh stream per file: the decoder's state must not carry over.
    ps_start_stream(decoder_);

    std::vector<int16_t> pending;
    std::vector<int16_t> utterance;
    size_t utteranceStart = 0;
    int quietRun = 0;
    std::vector<TimedWord> phrase;
    std::string error;

    // The model hears bare lower-case words; the user reads written text.
    SpeechTextFormatter formatter(contextualStrings);
    auto emitPhrase = [&] {
      if (phrase.empty()) return;
      if (auto result = formatter.add(std::exchange(phrase, {}))) onResult(*result);
    };
    auto decode = [&]() -> std::optional<std::string> {
      if (utterance.empty()) return std::nullopt;
      auto words = decodeUtterance(utterance, static_cast<double>(utteranceStart) / MODEL_RATE);
      if (!words) return std::string("the recogniser failed to decode the audio");
      for (TimedWord& w : *words) {
        if (!phrase.empty() && w.start - phrase.back().end >= PHRASE_PAUSE_SECONDS) emitPhrase();
        phrase.push_back(std::move(w));
      }
      utteranceStart += utterance.size();
      utterance.clear();
      return std::nullopt;
    };

    bool more = true;
    while (more) {
      more = reader.next(pending, error);
      if (!error.empty()) return error;
      size_t frame = 0;
      for (; frame + SAMPLES_PER_FRAME <= pending.size() || (!more && frame < pending.size());
           frame += SAMPLES_PER_FRAME) {
        size_t end = std::min(pending.size(), frame + SAMPLES_PER_FRAME);
        double energy = 0;
        for (size_t i = frame; i < end; ++i) energy += static_cast<double>(pending[i]) * pending[i];
        double rms = std::sqrt(energy / static_cast<double>(end - frame));
        utterance.insert(utterance.end(), pending.begin() + static_cast<long>(frame),
                         pending.begin() + static_cast<long>(end));
        quietRun = rms < QUIET_FRAME_RMS ? quietRun + 1 : 0;
        double seconds = static_cast<double>(utterance.size()) / MODEL_RATE;
        if ((seconds >= MIN_UTTERANCE_SECONDS && quietRun >= CUT_PAUSE_FRAMES) ||
            seconds >= MAX_UTTERANCE_SECONDS) {
          if (auto failure = decode()) return failure;
          quietRun = 0;
        }
      }
      pending.erase(pending.begin(),
                    pending.begin() + static_cast<long>(std::min(frame, pending.size())));
    }
    if (auto failure = decode()) return failure;
    emitPhrase();
    if (auto result = formatter.finish()) onResult(*result);
    return std::nullopt;
  }

 private:
  Engine(cmd_ln_t* config, ps_decoder_t* decoder) : config_(config), decoder_(decoder) {}

  std::optional<std::vector<TimedWord>> decodeUtterance(const std::vector<int16_t>& samples,
                                                        double offset) {
    std::vector<double> levels = frameLevels(samples);
    // Digital silence or a faint hum has no words; the decoder would guess some.
    if (std::none_of(levels.begin(), levels.end(),
                     [](double rms) { return rms >= SILENT_FRAME_RMS; })) {
      return std::vector<TimedWord>{};
    }
    if (ps_start_utt(decoder_) < 0) return std::nullopt;
    // The whole utterance at once, so that the model's batch normalisation sees
    // all of it.
    if (ps_process_raw(decoder_, samples.data(), samples.size(), FALSE, TRUE) < 0) {
      ps_end_utt(decoder_);
      return std::nullopt;
    }
    if (ps_end_utt(decoder_) < 0) return std::nullopt;
    std::vector<TimedWord> words;
    int lastEnd = 0;
    int32 score = 0;
    const char* hyp = ps_get_hyp(decoder_, &score);
    // No hypothesis, or an empty one, means no speech.
    if (!hyp || !*hyp) return words;
    for (ps_seg_t* seg = ps_seg_iter(decoder_); seg; seg = ps_seg_next(seg)) {
      const char* raw = ps_seg_word(seg);
      if (!raw || !*raw || raw[0] == '<' || raw[0] == '[' || raw[0] == '(') continue;
      std::string text(raw);
      if (auto paren = text.find('('); paren != std::string::npos && paren > 0) text.erase(paren);
      int sf = 0;
      int ef = 0;
      ps_seg_frames(seg, &sf, &ef);
      bool afterPause = words.empty() || sf - lastEnd >= PHRASE_PAUSE_SECONDS * FRAMES_PER_SECOND;
      if (afterPause) sf = onsetNear(levels, sf);
      lastEnd = ef + 1;
      words.push_back({text, offset + static_cast<double>(sf) / FRAMES_PER_SECOND,
                       offset + static_cast<double>(ef + 1) / FRAMES_PER_SECOND});
    }
    return words;
  }

  static std::vector<double> frameLevels(const std::vector<int16_t>& samples) {
    std::vector<double> levels;
    levels.reserve(samples.size() / SAMPLES_PER_FRAME + 1);
    for (size_t frame = 0; frame < samples.size(); frame += SAMPLES_PER_FRAME) {
      size_t end = std::min(samples.size(), frame + SAMPLES_PER_FRAME);
      double energy = 0;
      for (size_t i = frame; i < end; ++i) energy += static_cast<double>(samples[i]) * samples[i];
      levels.push_back(std::sqrt(energy / static_cast<double>(end - frame)));
    }
    return levels;
  }

  // The decoder places a word's start after a pause only roughly; the sound's
  // onset near it is more exact: back over loud frames, or on to the first one.
  static int onsetNear(const std::vector<double>& levels, int frame) {
    const int reach = static_cast<int>(ONSET_REACH_SECONDS * FRAMES_PER_SECOND);
    const int count = static_cast<int>(levels.size());
    if (frame < 0 || frame >= count) return frame;
    if (levels[frame] >= ONSET_FRAME_RMS) {
      int start = frame;
      while (start > 0 && frame - start < reach && levels[start - 1] >= ONSET_FRAME_RMS) --start;
      return start;
    }
    for (int next = frame + 1; next < count && next - frame <= reach; ++next) {
      if (levels[next] >= ONSET_FRAME_RMS) return next;
    }
    return frame;
  }

  // The search biased toward a set of contextual strings: the main model alone
  // when there are none, otherwise the main model blended with a small model of
  // the phrases. The phrase model is swapped inside the set, which costs a few
  // milliseconds; only words the search's tree lacks make it rebuild the tree.
  bool useContext(const std::vector<std::string>& contextualStrings) {
    std::vector<std::vector<std::string>> phrases;
    std::string key;
    for (const std::string& phrase : contextualStrings) {
      if (phrases.size() >= MAX_CONTEXT_PHRASES) break;
      auto words = phraseWords(phrase);
      if (words.empty()) continue;
      for (const auto& w : words) {
        key += w;
        key += ' ';
      }
      key += '\n';
      phrases.push_back(std::move(words));
    }
    if (key == contextKey_) return true;
    contextKey_.clear();
    dropContext();
    if (!phrases.empty()) {
      // Words the dictionary lacks get a pronunciation; a phrase with a word
      // that has none is left out.
      std::map<std::string, std::string> fresh;
      std::vector<std::vector<std::string>> usable;
      for (auto& words : phrases) {
        std::map<std::string, std::string> own;
        bool all = true;
        for (const auto& w : words) {
          if (own.count(w) || fresh.count(w) || inDictionary(w)) continue;
          std::string phones = pronounce(w);
          if (phones.empty()) {
            all = false;
            break;
          }
          own[w] = phones;
        }
        if (!all) continue;
        fresh.merge(own);
        usable.push_back(std::move(words));
      }
      if (!usable.empty() && !addContext(usable, fresh)) return false;
    }
    contextKey_ = std::move(key);
    return true;
  }

  // Back to the main model alone.
  void dropContext() {
    if (ngram_model_t* old = ngram_model_set_remove(set_, CONTEXT_MODEL, TRUE)) {
      ngram_model_free(old);
    }
    ngram_model_set_select(set_, MAIN_MODEL);
  }

  bool addContext(const std::vector<std::vector<std::string>>& phrases,
                  const std::map<std::string, std::string>& fresh) {
    ngram_model_t* phraseLm = readPhraseModel(phrases);
    if (!phraseLm) return false;
    // The search weighed its set's models once, when it was built; a model
    // added later gets the same weights.
    int32 logWip = 0;
    float32 lw = ngram_model_get_weights(mainLm_, &logWip);
    ngram_model_apply_weights(phraseLm, lw,
                              static_cast<float32>(logmath_exp(ps_get_logmath(decoder_), logWip)));
    // The set owns the model from here.
    ngram_model_set_add(set_, phraseLm, CONTEXT_MODEL, 1.0f, TRUE);
    // Words enter the set while the phrase model alone is selected, so that
    // they reach only that model, never the main one, which would keep them
    // for every request.
    ngram_model_set_select(set_, CONTEXT_MODEL);
    std::vector<std::string> newToTree;
    for (const auto& words : phrases) {
      for (const auto& w : words) {
        if (inSet(w) || fresh.count(w)) continue;
        ngram_model_add_word(set_, w.c_str(), 1.0f);
        newToTree.push_back(w);
      }
    }
    // A word added to the dictionary enters the set too. The last one rebuilds
    // the search's tree in place; the tree holds every word of the set,
    // whichever model is selected.
    size_t left = fresh.size();
    bool rebuilt = false;
    for (const auto& [word, phones] : fresh) {
      const bool last = --left == 0;
      if (ps_add_word(decoder_, word.c_str(), phones.c_str(), last ? TRUE : FALSE) >= 0) {
        rebuilt = last;
      }
      newToTree.push_back(word);
    }
    const char* names[2] = {MAIN_MODEL, CONTEXT_MODEL};
    const float32 weights[2] = {1.0f - CONTEXT_WEIGHT, CONTEXT_WEIGHT};
    ngram_model_set_interp(set_, names, weights);
    addedWords_ += newToTree.size();
    // Words the dictionary had but the tree lacked need the search built anew.
    if (newToTree.empty() || rebuilt) return true;
    return rebuildSearch();
  }

  // Whether the set knows the word: the main model's words and those added.
  bool inSet(const std::string& word) {
    int32 wid = ngram_wid(set_, word.c_str());
    return wid != NGRAM_INVALID_WID && wid != ngram_unknown_wid(set_);
  }

  // The search built anew over the dictionary and the set as they are now.
  bool rebuildSearch() {
    if (ps_set_lm(decoder_, SEARCH, set_) < 0) return false;
    return ps_set_search(decoder_, SEARCH) >= 0;
  }

  bool inDictionary(const std::string& word) {
    char* pron = ps_lookup_word(decoder_, word.c_str());
    if (!pron) return false;
    ckd_free(pron);
    return true;
  }

  // Words the dictionary lacks get a pronunciation from the speech synthesiser's
  // lexicon, which falls back to letter-to-sound rules.
  std::string pronounce(const std::string& word) {
    if (!lexicon_) lexicon_ = cmu_lex_init();
    if (!lexicon_) return "";
    cst_val* phones = lex_lookup(lexicon_, word.c_str(), nullptr, nullptr);
    std::string out;
    for (const cst_val* p = phones; p; p = val_cdr(p)) {
      std::string phone = val_string(val_car(p));
      while (!phone.empty() && std::isdigit(static_cast<unsigned char>(phone.back())))
        phone.pop_back();
      if (phone.empty() || phone == "pau") continue;
      if (phone == "ax") phone = "ah";
      if (!out.empty()) out += ' ';
      for (char c : phone) out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    if (phones) delete_val(phones);
    return out;
  }

  // A bigram model of the phrases in ARPA form, read back through a temporary
  // file because the engine reads models only from files.
  ngram_model_t* readPhraseModel(const std::vector<std::vector<std::string>>& phrases) {
    std::map<std::string, double> unigrams;
    std::map<std::pair<std::string, std::string>, double> bigrams;
    std::map<std::string, double> histories;
    double total = 0;
    for (const auto& words : phrases) {
      std::string previous = "<s>";
      for (const auto& w : words) {
        unigrams[w] += 1;
        total += 1;
        bigrams[{previous, w}] += 1;
        histories[previous] += 1;
        previous = w;
      }
      bigrams[{previous, "</s>"}] += 1;
      histories[previous] += 1;
      unigrams["</s>"] += 1;
      total += 1;
    }
    constexpr double DISCOUNT = 0.5;
    std::ostringstream arpa;
    arpa << "\\data\\\nngram 1=" << unigrams.size() + 1 << "\nngram 2=" << bigrams.size()
         << "\n\n\\1-grams:\n";
    arpa << "-99 <s> " << std::log10(DISCOUNT) << "\n";
    for (const auto& [w, count] : unigrams) {
      arpa << std::log10(count / total) << " " << w;
      if (w != "</s>") arpa << " " << std::log10(DISCOUNT);
      arpa << "\n";
    }
    arpa << "\n\\2-grams:\n";
    for (const auto& [pair, count] : bigrams) {
      arpa << std::log10((1.0 - DISCOUNT) * count / histories[pair.first]) << " " << pair.first
           << " " << pair.second << "\n";
    }
    arpa << "\n\\end\\\n";

    char path[] = "/tmp/sondra-context-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) return nullptr;
    std::string text = arpa.str();
    bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    ngram_model_t* model =
        written ? ngram_model_read(config_, path, NGRAM_ARPA, ps_get_logmath(decoder_)) : nullptr;
    ::unlink(path);
    return model;
  }

  cmd_ln_t* config_;
  ps_decoder_t* decoder_;
  ngram_model_t* mainLm_ = nullptr;
  // The main model and, while a request has contextual strings, theirs.
  ngram_model_t* set_ = nullptr;
  // The words of the set in use, phrase by phrase.
  std::string contextKey_;
  // How many words beyond the main model the set and the search's tree hold.
  size_t addedWords_ = 0;
  // The synthesiser's built-in lexicon, owned by the library.
  cst_lexicon* lexicon_ = nullptr;
};

PocketSpeech::PocketSpeech(std::string modelDir) : modelDir_(std::move(modelDir)) {}

PocketSpeech::~PocketSpeech() = default;

bool PocketSpeech::modelPresent() const {
  std::error_code ec;
  return std::filesystem::is_directory(modelDir_ + "/en-us", ec) &&
         std::filesystem::is_regular_file(modelDir_ + "/en-us.lm.bin", ec) &&
         std::filesystem::is_regular_file(modelDir_ + "/cmudict-en-us.dict", ec);
}

// Recognition runs on this machine only; there is no permission to ask for.
SpeechAuthorization PocketSpeech::authorizationStatus() { return SpeechAuthorization::authorized; }

void PocketSpeech::requestAuthorization(std::function<void()> completion) { completion(); }

std::vector<std::string> PocketSpeech::supportedLocales() { return {ENGLISH}; }

std::optional<std::string> PocketSpeech::supportedLocaleEquivalentTo(const std::string& localeId) {
  if (namesEnglish(localeId)) return std::string(ENGLISH);
  return std::nullopt;
}

SpeechAssetStatus PocketSpeech::assetStatus(const std::string& localeId) {
  if (!namesEnglish(localeId)) return SpeechAssetStatus::unsupported;
  return modelPresent() ? SpeechAssetStatus::installed : SpeechAssetStatus::supported;
}

std::unique_ptr<AssetInstallation> PocketSpeech::assetInstallationRequest(
    const std::string& localeId, std::string& error) {
  if (!namesEnglish(localeId)) {
    error = "no speech model is available for locale " + localeId + " on this machine";
    return nullptr;
  }
  if (!modelPresent()) {
    error =
        "the US English speech model is missing from " + modelDir_ +
        "; it comes with the system package pocketsphinx-en-us and cannot be downloaded from here";
  }
  return nullptr;
}

std::unique_ptr<SpeechAudioFile> PocketSpeech::openAudioFile(const std::string& path,
                                                             std::string& error) {
  return openSndAudioFile(path, error);
}

std::optional<std::string> PocketSpeech::analyze(SpeechAudioFile& file, const std::string& localeId,
                                                 const std::vector<std::string>& contextualStrings,
                                                 const ResultHandler& onResult) {
  if (!namesEnglish(localeId)) return "no speech model is available for locale " + localeId;
  std::lock_guard lock(engineMutex_);
  if (auto failure = loadEngine()) return failure;
  return engine_->analyze(static_cast<SndAudioFile&>(file), contextualStrings, onResult);
}

void PocketSpeech::prepare(const std::string& localeId) {
  if (!namesEnglish(localeId)) return;
  std::lock_guard lock(engineMutex_);
  if (engine_ || loadEngine()) return;
  engine_->warmUp();
}

std::optional<std::string> PocketSpeech::loadEngine() {
  if (engine_ && !engine_->full()) return std::nullopt;
  // The old engine goes first, its pages back to the system: two at once
  // would double the memory.
  if (engine_) {
    engine_.reset();
    malloc_trim(0);
  }
  if (!modelPresent()) return "the US English speech model is missing from " + modelDir_;
  std::string error;
  engine_ = Engine::load(modelDir_, error);
  if (!engine_) return error;
  return std::nullopt;
}

}  // namespace nolari::platform

#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "support/Subprocess.h"
#include "support/TempDir.h"

// A sondra on a real speech engine, driven over its protocol, for the tests
// that run the engines end to end.

namespace nolari::test {

// The address sanitizer's quarantine holds freed memory back: resident memory
// says nothing about leaks there, and the sanitizer's own report at exit does.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool RESIDENT_MEMORY_MEANINGFUL = false;
#else
constexpr bool RESIDENT_MEMORY_MEANINGFUL = true;
#endif

class SondraClient {
 public:
  // `env` chooses the engine; without it, the default one with its installed model.
  explicit SondraClient(const TempDir& dir, const std::map<std::string, std::string>& env = {}) {
    using namespace std::chrono_literals;
    ProcessOptions options;
    options.cwd = dir.path();
    options.unsetEnv = {"NOLARI_PLATFORM",      "NOLARI_SPEECH_SCRIPT", "NOLARI_SPEECH_MODEL_DIR",
                        "NOLARI_SPEECH_ENGINE", "NOLARI_SPEECH_MODEL",  "NOLARI_SPEECH_THREADS"};
    options.env = env;
    child_ = RunningProcess::start(programPath("sondra"), options);
    EXPECT_TRUE(child_ && child_->readLine(5s));
  }

  nlohmann::json ask(const nlohmann::json& request) {
    using namespace std::chrono_literals;
    child_->writeLine(request.dump());
    auto line = child_->readLine(120s);
    EXPECT_TRUE(line) << request.dump();
    return line ? nlohmann::json::parse(*line) : nlohmann::json();
  }

  nlohmann::json transcribe(const std::string& path,
                            const nlohmann::json& contextual = nlohmann::json::array()) {
    return ask({{"id", "t"},
                {"op", "transcribe"},
                {"audio_path", path},
                {"contextual_strings", contextual}});
  }

  // Resident memory in KiB, from the kernel's account of the process.
  long residentKiB() const {
    std::ifstream status("/proc/" + std::to_string(child_->pid()) + "/status");
    for (std::string line; std::getline(status, line);) {
      if (line.starts_with("VmRSS:")) return std::stol(line.substr(6));
    }
    return -1;
  }

  ProcessResult finish() {
    using namespace std::chrono_literals;
    return child_->wait(60s);
  }

 private:
  std::unique_ptr<RunningProcess> child_;
};

}  // namespace nolari::test

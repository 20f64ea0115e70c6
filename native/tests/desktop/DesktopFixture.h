#pragma once

#include <gtest/gtest.h>

#include <string>

#include "HeadlessDesktop.h"

// One headless desktop per test process, shared by the tests of a suite, and
// a fresh compose window for every test with the field it names focused.

namespace nolari::test {

class DesktopFixture : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!HeadlessDesktop::missingPrograms().empty()) return;
    desktop_ = new HeadlessDesktop();
    std::string error;
    if (!desktop_->start(error)) startError_ = new std::string(error);
  }
  static void TearDownTestSuite() {
    delete desktop_;
    desktop_ = nullptr;
    delete startError_;
    startError_ = nullptr;
  }
  // Skips the test where the desktop's programs are missing.
  void openComposer(const std::string& focusedField) {
    if (auto missing = HeadlessDesktop::missingPrograms(); !missing.empty()) {
      GTEST_SKIP() << "the headless desktop needs " << missing
                   << " (scripts/deps.sh installs them)";
    }
    ASSERT_FALSE(startError_) << *startError_;
    std::string error;
    ASSERT_TRUE(desktop_->startComposer(focusedField, error)) << error;
  }

  static inline HeadlessDesktop* desktop_ = nullptr;
  static inline std::string* startError_ = nullptr;
};

}  // namespace nolari::test

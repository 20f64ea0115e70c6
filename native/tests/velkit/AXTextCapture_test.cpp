#include "core/AXTextCapture.h"

#include <gtest/gtest.h>

#include <fstream>

#include <nlohmann/json.hpp>

#include "support/SimPlatform.h"

namespace {

using nlohmann::json;
using nolari::AXTextCapture::captureSelectedText;
using nolari::AXTextCapture::captureValue;
using nolari::AXTextCapture::WriteResult;
using nolari::AXTextCapture::writeValue;
using nolari::test::SimPlatform;

int requests(SimPlatform& sim, const std::string& operation) {
  const json counts = sim.accessibility().counts();
  return counts.contains(operation) ? counts[operation]["total"].get<int>() : 0;
}

TEST(AXTextCapture, NothingFocusedAnywhere) {
  SimPlatform sim("no_frontmost");
  EXPECT_EQ(captureSelectedText(std::nullopt), std::nullopt);
  EXPECT_EQ(captureValue(std::nullopt), std::nullopt);
  EXPECT_EQ(writeValue("abc", std::nullopt), (WriteResult{false, "No focused element"}));
}

TEST(AXTextCapture, ReadsTheFocusedFieldWhenNoElementIsGiven) {
  SimPlatform sim("browser_page");
  EXPECT_EQ(captureSelectedText(std::nullopt), "soup");
  EXPECT_EQ(captureValue(std::nullopt), "lentil soup");
}

TEST(AXTextCapture, EmptySelectionIsEmptyAndMissingSelectionIsNothing) {
  SimPlatform sim("mail_compose");
  EXPECT_EQ(captureSelectedText(sim.desktop().element("body")), "");
  EXPECT_EQ(captureSelectedText(sim.desktop().element("to_field")), std::nullopt);
  EXPECT_EQ(captureValue(sim.desktop().element("subject_field")), "Quarterly report");
}

TEST(AXTextCapture, WritingReplacesTheWholeValueAndReachesTheSceneFile) {
  SimPlatform sim("mail_compose");
  const auto subject = sim.desktop().element("subject_field");
  EXPECT_EQ(writeValue("abc", subject), (WriteResult{true, std::nullopt}));
  EXPECT_EQ(captureValue(subject), "abc");
  std::ifstream file(sim.sceneFile());
  EXPECT_NE(json::parse(file).dump().find("\"abc\""), std::string::npos);
}

TEST(AXTextCapture, NotSettableSendsNothing) {
  SimPlatform sim("static_text_focused");
  EXPECT_EQ(writeValue("x", std::nullopt), (WriteResult{false, "Focused element is not settable"}));
  EXPECT_EQ(requests(sim, "setAttributeValue"), 0);
  EXPECT_EQ(captureValue(std::nullopt), "It was a quiet morning.");
}

TEST(AXTextCapture, FailedSettableQueryCountsAsNotSettable) {
  SimPlatform sim(json{
      {"applications",
       json::array(
           {{{"pid", 4},
             {"focused", "f"},
             {"windows", json::array({{{"id", "f"},
                                       {"AXRole", "AXTextField"},
                                       {"settable", {{"AXValue", {{"error", -25212}}}}}}})}}})}});
  EXPECT_EQ(writeValue("x", std::nullopt), (WriteResult{false, "Focused element is not settable"}));
}

TEST(AXTextCapture, RefusedValueReportsThePlatformCode) {
  SimPlatform sim("write_refused");
  EXPECT_EQ(writeValue("final", std::nullopt), (WriteResult{false, "Native set failed: -25204"}));
  EXPECT_EQ(captureValue(std::nullopt), "draft");
}

}  // namespace

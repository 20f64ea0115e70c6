#include "core/AXTextCapture.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "support/SimPlatform.h"

namespace {

using nlohmann::json;
using nolari::AXTextCapture::captureSelectedText;
using nolari::AXTextCapture::captureValue;
using nolari::AXTextCapture::WriteResult;
using nolari::AXTextCapture::writeValue;
using nolari::test::SimPlatform;

TEST(AXTextCapture, EmptySelectionIsEmptyAndMissingSelectionIsNothing) {
  SimPlatform sim("mail_compose");
  auto& ax = sim.accessibility();
  auto& ws = sim.workspace();
  EXPECT_EQ(captureSelectedText(ax, ws, sim.desktop().element("body")), "");
  EXPECT_EQ(captureSelectedText(ax, ws, sim.desktop().element("to_field")), std::nullopt);
  EXPECT_EQ(captureValue(ax, ws, sim.desktop().element("subject_field")), "Quarterly report");
  EXPECT_EQ(writeValue(ax, ws, "abc", sim.desktop().element("subject_field")),
            (WriteResult{true, {}}));
  EXPECT_EQ(captureValue(ax, ws, sim.desktop().element("subject_field")), "abc");
}

TEST(AXTextCapture, NotSettableSendsNothing) {
  SimPlatform sim("static_text_focused");
  auto& ax = sim.accessibility();
  auto& ws = sim.workspace();
  EXPECT_EQ(writeValue(ax, ws, "x", std::nullopt),
            (WriteResult{false, "Focused element is not settable"}));
  EXPECT_FALSE(sim.accessibility().counts().contains("setAttributeValue"));
}

TEST(AXTextCapture, FailedSettableQueryCountsAsNotSettable) {
  SimPlatform sim(json::parse(R"({"applications": [{"focused": "f", "windows": [
      {"id": "f", "AXRole": "AXTextField", "settable": {"AXValue": {"error": -25212}}}]}]})"));
  auto& ax = sim.accessibility();
  auto& ws = sim.workspace();
  EXPECT_EQ(writeValue(ax, ws, "x", std::nullopt),
            (WriteResult{false, "Focused element is not settable"}));
}

}  // namespace

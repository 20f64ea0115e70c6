#include "core/AXReadCache.h"

#include <gtest/gtest.h>

#include <map>
#include <tuple>

#include <nlohmann/json.hpp>

#include "core/AXHelpers.h"
#include "support/RecordingSink.h"
#include "support/SimPlatform.h"
#include "velkit/VelkitCommands.h"

namespace {

using nlohmann::json;
using nolari::platform::AXUIElement;
using nolari::platform::AXValue;
using nolari::platform::SimElementRef;
using nolari::test::SimPlatform;

// The simulated accessibility, counting the reads that reach the application
// per element and attribute.
class ReadRecorder : public nolari::platform::SimAccessibility {
 public:
  using SimAccessibility::SimAccessibility;
  std::map<std::tuple<int, std::int32_t, int, std::string>, int> reads;

  nolari::platform::AXError copyAttributeValue(const AXUIElement& element,
                                               std::string_view attribute,
                                               AXValue& value) override {
    const auto* ref = element.as<SimElementRef>();
    ++reads[{static_cast<int>(ref->kind), ref->pid, ref->node, std::string(attribute)}];
    return SimAccessibility::copyAttributeValue(element, attribute, value);
  }
  int readsOf(const std::string& attribute) const {
    int n = 0;
    for (const auto& [key, count] : reads) n += std::get<3>(key) == attribute ? count : 0;
    return n;
  }
};

// Puts the cache in front of a recorder on the scene's desktop.
ReadRecorder& installCache(SimPlatform& sim) {
  auto recorder = std::make_unique<ReadRecorder>(sim.accessibility().desktop());
  ReadRecorder& recording = *recorder;
  sim.platform().accessibility = std::make_unique<nolari::AXReadCache>(std::move(recorder));
  return recording;
}

class ReadOnce : public testing::TestWithParam<std::string> {};

TEST_P(ReadOnce, CaptureSelectionReadsEachAttributeOfAnElementOnce) {
  SimPlatform sim(GetParam());
  const json plain = nolari::Velkit::buildSystemContext(sim.accessibility(), sim.workspace(), true);
  ReadRecorder& recording = installCache(sim);

  nolari::test::RecordingSink out;
  nolari::Velkit::captureSelection(out, *sim.platform().accessibility, sim.workspace());
  ASSERT_EQ(out.lines().size(), 1u);
  json captured = out.objects()[0];
  for (const char* key : {"captured_text", "copied_text", "copied_text_length", "capture_source",
                          "clipboard_changed", "capture_method"}) {
    captured.erase(key);
  }
  EXPECT_EQ(captured, plain) << "the cache changed the context";

  for (const auto& [key, count] : recording.reads) {
    if (std::get<3>(key) != "AXFocusedUIElement") {
      EXPECT_EQ(count, 1) << "node " << std::get<2>(key) << " " << std::get<3>(key);
    }
  }
  // Focus is resolved twice, each time afresh.
  EXPECT_EQ(recording.readsOf("AXFocusedUIElement"), 2);
}

INSTANTIATE_TEST_SUITE_P(Scenes, ReadOnce,
                         testing::Values("mail_compose", "browser_page", "nested_groups",
                                         "odd_attribute_types", "no_frontmost"));

TEST(AXReadCache, AWriteForgetsWhatWasReadOfItsElement) {
  SimPlatform sim("mail_compose");
  ReadRecorder& recording = installCache(sim);
  auto& cache = *sim.platform().accessibility;
  const AXUIElement body = sim.desktop().element("body");
  EXPECT_TRUE(nolari::AXHelpers::getStringAttribute(cache, body, "AXValue"));
  EXPECT_FALSE(nolari::AXHelpers::getRawAttribute(cache, sim.desktop().element("body"), "AXHelp"));
  EXPECT_FALSE(nolari::AXHelpers::getRawAttribute(cache, body, "AXHelp"));
  EXPECT_EQ(nolari::AXHelpers::setAttributeValue(cache, body, "AXValue", AXValue("new")), 0);
  EXPECT_EQ(nolari::AXHelpers::getStringAttribute(cache, body, "AXValue"), "new");
  EXPECT_EQ(nolari::AXHelpers::getStringAttribute(cache, body, "AXValue"), "new");
  EXPECT_EQ(recording.readsOf("AXValue"), 2);
  EXPECT_EQ(recording.readsOf("AXHelp"), 1);
}

}  // namespace

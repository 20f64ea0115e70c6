#include "core/AXReadCache.h"

#include <gtest/gtest.h>

#include <map>
#include <tuple>

#include <nlohmann/json.hpp>

#include "core/AXFocusResolver.h"
#include "core/AXHelpers.h"
#include "support/CaptureFd.h"
#include "support/SimPlatform.h"
#include "velkit/VelkitCommands.h"

namespace {

using nlohmann::json;
using nolari::platform::AXError;
using nolari::platform::AXUIElement;
using nolari::platform::AXValue;
using nolari::platform::SimElementRef;
using nolari::test::SimPlatform;

// Passes every request on and counts the attribute reads that reach the
// application, per element and attribute.
class ReadRecorder : public nolari::platform::Accessibility {
 public:
  using Key = std::tuple<int, std::int32_t, int, std::string>;
  explicit ReadRecorder(std::unique_ptr<Accessibility> inner) : inner_(std::move(inner)) {}

  std::map<Key, int> reads;

  bool isProcessTrusted(bool prompt) override { return inner_->isProcessTrusted(prompt); }
  AXUIElement createSystemWide() override { return inner_->createSystemWide(); }
  AXUIElement createApplication(std::int32_t pid) override {
    return inner_->createApplication(pid);
  }
  AXError copyAttributeValue(const AXUIElement& element, std::string_view attribute,
                             AXValue& value) override {
    const auto* ref = element.as<SimElementRef>();
    ++reads[{static_cast<int>(ref->kind), ref->pid, ref->node, std::string(attribute)}];
    return inner_->copyAttributeValue(element, attribute, value);
  }
  AXError isAttributeSettable(const AXUIElement& element, std::string_view attribute,
                              bool& settable) override {
    return inner_->isAttributeSettable(element, attribute, settable);
  }
  AXError setAttributeValue(const AXUIElement& element, std::string_view attribute,
                            const AXValue& value) override {
    return inner_->setAttributeValue(element, attribute, value);
  }
  AXError copyParameterizedAttributeValue(const AXUIElement& element, std::string_view attribute,
                                          const AXValue& parameter, AXValue& value) override {
    return inner_->copyParameterizedAttributeValue(element, attribute, parameter, value);
  }
  AXError copyElementAtPosition(const AXUIElement& element, float x, float y,
                                AXUIElement& found) override {
    return inner_->copyElementAtPosition(element, x, y, found);
  }
  AXError getPid(const AXUIElement& element, std::int32_t& pid) override {
    return inner_->getPid(element, pid);
  }
  AXError setMessagingTimeout(const AXUIElement& element, float seconds) override {
    return inner_->setMessagingTimeout(element, seconds);
  }
  AXError createObserver(std::int32_t pid, nolari::platform::AXObserverCallback callback,
                         std::shared_ptr<nolari::platform::AXObserver>& observer) override {
    return inner_->createObserver(pid, std::move(callback), observer);
  }
  AXError addNotification(nolari::platform::AXObserver& observer, const AXUIElement& element,
                          std::string_view notification) override {
    return inner_->addNotification(observer, element, notification);
  }
  void scheduleObserver(nolari::platform::AXObserver& observer,
                        nolari::platform::RunLoop& runLoop) override {
    inner_->scheduleObserver(observer, runLoop);
  }
  void unscheduleObserver(nolari::platform::AXObserver& observer) override {
    inner_->unscheduleObserver(observer);
  }

 private:
  std::unique_ptr<Accessibility> inner_;
};

// Puts the cache in front of a recorder in front of the simulated desktop.
ReadRecorder& installCache(SimPlatform& sim) {
  auto recorder = std::make_unique<ReadRecorder>(std::move(sim.platform().accessibility));
  ReadRecorder& recording = *recorder;
  sim.platform().accessibility = std::make_unique<nolari::AXReadCache>(std::move(recorder));
  return recording;
}

class ReadOnce : public testing::TestWithParam<std::string> {};

TEST_P(ReadOnce, CaptureSelectionReadsEachAttributeOfAnElementOnce) {
  SimPlatform sim(GetParam());
  const json plain = nolari::Velkit::buildSystemContext(true);
  ReadRecorder& recording = installCache(sim);

  nolari::test::CaptureFd out(1);
  nolari::Velkit::captureSelection();
  out.restore();
  ASSERT_EQ(out.lines().size(), 1u);
  json captured = json::parse(out.lines()[0]);
  for (const char* key : {"captured_text", "copied_text", "copied_text_length", "capture_source",
                          "clipboard_changed", "capture_method"}) {
    captured.erase(key);
  }
  // The same context as without the cache.
  EXPECT_EQ(captured, plain);

  int focusQuestions = 0;
  for (const auto& [key, count] : recording.reads) {
    if (std::get<3>(key) == "AXFocusedUIElement") {
      focusQuestions += count;
      continue;
    }
    EXPECT_EQ(count, 1) << "pid " << std::get<1>(key) << " node " << std::get<2>(key) << " "
                        << std::get<3>(key);
  }
  // Focus is resolved twice, as asked, each time afresh.
  EXPECT_EQ(focusQuestions, 2);
}

INSTANTIATE_TEST_SUITE_P(Scenes, ReadOnce,
                         testing::Values("mail_compose", "browser_page", "nested_groups",
                                         "odd_attribute_types", "no_frontmost"));

TEST(AXReadCache, AWriteForgetsWhatWasReadOfItsElement) {
  SimPlatform sim("mail_compose");
  ReadRecorder& recording = installCache(sim);
  const AXUIElement body = sim.desktop().element("body");
  EXPECT_EQ(nolari::AXHelpers::getStringAttribute(body, "AXValue"),
            "Hi Anna,\n\nthe report is attached.");
  EXPECT_TRUE(nolari::AXHelpers::isAttributeSettable(body, "AXValue"));
  EXPECT_EQ(nolari::AXHelpers::setAttributeValue(body, "AXValue", AXValue("new")), 0);
  EXPECT_EQ(nolari::AXHelpers::getStringAttribute(body, "AXValue"), "new");
  EXPECT_EQ(nolari::AXHelpers::getStringAttribute(body, "AXValue"), "new");
  int valueReads = 0;
  for (const auto& [key, count] : recording.reads) {
    if (std::get<3>(key) == "AXValue") valueReads += count;
  }
  EXPECT_EQ(valueReads, 2);
}

TEST(AXReadCache, ErrorsAreRememberedToo) {
  SimPlatform sim("mail_compose");
  ReadRecorder& recording = installCache(sim);
  const AXUIElement body = sim.desktop().element("body");
  EXPECT_FALSE(nolari::AXHelpers::getRawAttribute(body, "AXHelp"));
  EXPECT_FALSE(nolari::AXHelpers::getRawAttribute(sim.desktop().element("body"), "AXHelp"));
  EXPECT_EQ(recording.reads.size(), 1u);
}

}  // namespace

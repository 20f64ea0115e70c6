#include "core/AXBrowserDetector.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "support/SimPlatform.h"

namespace {

using nlohmann::json;
using nolari::AXBrowserDetector::findWebArea;
using nolari::AXBrowserDetector::isBrowser;
using nolari::AXBrowserDetector::PageMetadata;
using nolari::AXBrowserDetector::resolveMetadata;
using nolari::test::SimPlatform;

// A window whose only path down is a chain of groups, with a web area at `depth`.
json chainScene(int depth) {
  json node = json::parse(R"({"id": "page", "AXRole": "AXWebArea", "AXTitle": "Deep",
                              "AXURL": {"url": "https://deep.example.org/"}})");
  for (int level = depth - 1; level >= 1; --level) {
    node = {{"AXRole", "AXGroup"}, {"children", json::array({node})}};
  }
  return {{"applications",
           json::array({{{"pid", 42},
                         {"windows", json::array({{{"id", "window"},
                                                   {"AXRole", "AXWindow"},
                                                   {"children", json::array({node})}}})}}})}};
}

TEST(AXBrowserDetector, KnownBundlePrefixesMatchWhateverTheirCase) {
  EXPECT_TRUE(isBrowser("Safari", "com.apple.Safari"));
  EXPECT_TRUE(isBrowser("", "COM.GOOGLE.CHROME.DEV"));
  for (auto prefix : nolari::AXBrowserDetector::browserBundlePrefixes) {
    EXPECT_TRUE(isBrowser("Plain", std::string(prefix) + ".helper")) << prefix;
  }
  EXPECT_FALSE(isBrowser("TextEdit", "com.apple.TextEdit"));
  EXPECT_FALSE(isBrowser("", ""));
}

TEST(AXBrowserDetector, NameHintsMatchLooselyInNameOrBundle) {
  for (auto hint : nolari::AXBrowserDetector::browserNameHints) {
    EXPECT_TRUE(isBrowser("My " + std::string(hint) + " app", "org.example.tool")) << hint;
    EXPECT_TRUE(isBrowser("Tool", "org.example." + std::string(hint))) << hint;
  }
  EXPECT_TRUE(isBrowser("Encyclopedia", "org.example.reference"));
  EXPECT_TRUE(isBrowser("Knowledge Base", "org.example.kb"));
  EXPECT_TRUE(isBrowser("SEARCH", "org.example.tool"));
  EXPECT_FALSE(isBrowser("Notes", "com.example.notes"));
}

TEST(AXBrowserDetector, NonBrowserReadsNothing) {
  SimPlatform sim("mail_compose");
  EXPECT_EQ(resolveMetadata(sim.accessibility(), "Mail", "com.example.mail",
                            sim.desktop().element("body"), 501),
            PageMetadata{});
  EXPECT_FALSE(sim.accessibility().counts().contains("copyAttributeValue"));
}

TEST(AXBrowserDetector, FocusedElementWithItsOwnAddressWins) {
  SimPlatform sim(json::parse(R"({"applications": [{"pid": 7, "windows": [
      {"AXRole": "AXWindow", "AXURL": {"url": "https://w/"},
       "children": [{"id": "f", "AXRole": "AXTextField", "AXURL": {"url": "https://f/"}}]}]}]})"));
  EXPECT_EQ(resolveMetadata(sim.accessibility(), "Arc", "", sim.desktop().element("f"), 7),
            (PageMetadata{"", "https://f/"}));
}

TEST(AXBrowserDetector, WebAreaSearchExaminesSixLevels) {
  {
    SimPlatform sim(chainScene(5));
    EXPECT_EQ(findWebArea(sim.accessibility(), sim.desktop().element("window")),
              sim.desktop().element("page"));
  }
  {
    SimPlatform sim(chainScene(6));
    EXPECT_FALSE(findWebArea(sim.accessibility(), sim.desktop().element("window")));
  }
}

}  // namespace

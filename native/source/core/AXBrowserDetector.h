#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/AXHelpers.h"
#include "platform/Accessibility.h"

// Whether the frontmost application is a web browser and which page it shows.

namespace nolari::AXBrowserDetector {

using platform::Accessibility;
using platform::AXUIElement;

// Compared case-insensitively against the start of a bundle identifier.
inline constexpr std::array<std::string_view, 21> browserBundlePrefixes = {
    "com.apple.Safari",
    "com.apple.SafariTechnologyPreview",
    "com.google.Chrome",
    "com.google.Chrome.canary",
    "com.google.Chrome.beta",
    "com.brave.Browser",
    "com.microsoft.edgemac",
    "com.microsoft.Edge",
    "company.thebrowser.Browser",
    "company.thebrowser.dia",
    "org.mozilla.firefox",
    "org.mozilla.nightly",
    "org.mozilla.firefoxdeveloperedition",
    "com.vivaldi.Vivaldi",
    "com.operasoftware.Opera",
    "com.kagi.kagimacOS",
    "app.zen-browser.zen",
    "com.duckduckgo.macos.browser",
    "com.sigmaos.sigmaos.macos",
    "net.waterfox.waterfox",
    "one.ablaze.floorp",
};

// Any of these found anywhere in the lower-cased name or bundle identifier
// marks a browser. The match is deliberately loose: "dia" also matches
// Multimedia, "edge" Knowledge, and such applications count as browsers.
inline constexpr std::array<std::string_view, 19> browserNameHints = {
    "safari",     "chrome",   "chromium", "brave",   "edge",      "arc",      "firefox",
    "vivaldi",    "opera",    "orion",    "zen",     "dia",       "sidekick", "sigmaos",
    "duckduckgo", "waterfox", "floorp",   "thorium", "ungoogled",
};

// A page's title and address; two empty strings mean no page is known.
struct PageMetadata {
  std::string title;
  std::string url;
  friend bool operator==(const PageMetadata&, const PageMetadata&) = default;
};

bool isBrowser(std::string_view appName, std::string_view bundleId);
// Reads nothing unless the application is a browser.
PageMetadata resolveMetadata(Accessibility& ax, std::string_view appName, std::string_view bundleId,
                             const AXUIElement& focused, std::int32_t pid);
// Depth-first, pre-order: elements at depths `depth` to `maxDepth` are examined,
// with at most AXHelpers::MAX_AX_CHILDREN children each.
std::optional<AXUIElement> findWebArea(Accessibility& ax, const AXUIElement& start, int depth = 0,
                                       int maxDepth = AXHelpers::MAX_AX_DEPTH);

}  // namespace nolari::AXBrowserDetector

#include "core/NolariConfig.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "base/NolariLogger.h"
#include "base/TextEncoding.h"
#include "support/CaptureFd.h"
#include "support/TempDir.h"

namespace nolari {
namespace {

namespace fs = std::filesystem;

const std::string MALFORMED = "The data couldn't be read because it isn't in the correct format: ";
const std::string MISSING = "The data couldn't be read because it is missing: ";

NolariConfig decoded(const std::string& text) {
  auto result = NolariConfig::decode(text);
  EXPECT_TRUE(result.record) << text << "\n" << result.errorDescription;
  return result.record.value_or(NolariConfig());
}

std::string decodeError(const std::string& text) {
  const auto result = NolariConfig::decode(text);
  EXPECT_FALSE(result.record) << text;
  EXPECT_TRUE(TextEncoding::isValidUTF8(result.errorDescription))
      << "the description may quote the bytes";
  return result.errorDescription;
}

TEST(NolariConfigDecode, AbsentOrNullKeysTakeTheDefaultsAndUnknownMembersAreIgnored) {
  EXPECT_EQ(decoded("{}"), NolariConfig());
  EXPECT_EQ(
      decoded(R"({"future": [1, {"x": null}], "observer": null, "dictation": null, "highlight": {
      "enabled": null, "allowed_roles": null, "debug_window": {"shape": "round"}, "glow": 3},
      "paths": {"logo_path": null, "icons": "x"}})"),
      NolariConfig());

  NolariConfig expected;
  expected.highlight.color = "#ff0000";
  EXPECT_EQ(decoded(R"({"highlight": {"color": "#ff0000"}})"), expected);
}

TEST(NolariConfigDecode, ReadsEverySection) {
  const auto config = decoded(R"({
    "highlight": {"enabled": false, "color": "#112233", "opacity": 1, "padding": 3.5,
      "debug_window": {"visible": true, "color": "#445566", "opacity": 0.25, "padding": 6},
      "logo_window": {"visible": false, "size": 24, "margin": 8.5},
      "allowed_apps": ["Mail", "Notes"], "allowed_roles": []},
    "observer": {"enabled": false, "focus_retry_delays": [0.1, 1], "max_tree_depth": 7.0, "max_tree_children": 20},
    "paths": {"logo_path": "/tmp/logo.png"},
    "dictation": {"space_hold_enabled": true, "space_hold_delay": 0.4, "ax_timeout_seconds": 0}
  })");
  const auto& highlight = config.highlight;
  EXPECT_FALSE(highlight.enabled);
  EXPECT_EQ(highlight.color, "#112233");
  EXPECT_EQ(highlight.opacity, 1.0);
  EXPECT_EQ(highlight.padding, 3.5);
  EXPECT_EQ(highlight.debugWindow,
            (NolariConfig::Highlight::DebugWindow{true, "#445566", 0.25, 6.0}));
  EXPECT_EQ(highlight.logoWindow, (NolariConfig::Highlight::LogoWindow{false, 24.0, 8.5}));
  EXPECT_EQ(highlight.allowedApps, (std::vector<std::string>{"Mail", "Notes"}));
  EXPECT_TRUE(highlight.allowedRoles.empty())
      << "an explicitly empty list is not replaced by the defaults";
  EXPECT_EQ(config.observer, (NolariConfig::Observer{false, {0.1, 1.0}, 7, 20}));
  EXPECT_EQ(config.paths.logoPath, "/tmp/logo.png");
  EXPECT_EQ(config.dictation, (NolariConfig::Dictation{true, 0.4, 0.0}));
}

TEST(NolariConfigDecode, MissingRequiredKeysAndWrongTypesRejectTheWholeFile) {
  EXPECT_EQ(decodeError(R"({"observer": {"enabled": true}})"),
            MISSING + "no value for \"observer.focus_retry_delays\".");
  EXPECT_EQ(decodeError(R"({"dictation": {"space_hold_enabled": true, "space_hold_delay": 0.3,
                                          "ax_timeout_seconds": null}})"),
            MISSING + "no value for \"dictation.ax_timeout_seconds\".");
  EXPECT_EQ(decodeError(R"({"highlight": {"color": "#ff0000", "opacity": "high"}})"),
            MALFORMED + "\"highlight.opacity\" must be a number but is a string.");
  EXPECT_EQ(decodeError(R"({"observer": {"enabled": true, "focus_retry_delays": [0.1],
                                         "max_tree_depth": 5.5, "max_tree_children": 50}})"),
            MALFORMED + "\"observer.max_tree_depth\" must be an integer but is the number 5.5.");
  EXPECT_EQ(decodeError(R"({"highlight": {"allowed_roles": ["AXTextField", 3]}})"),
            MALFORMED + "\"highlight.allowed_roles[1]\" must be a string but is the number 3.");
  EXPECT_EQ(decodeError("[]"), MALFORMED + "the top level must be an object but is an array.");
  EXPECT_EQ(decodeError(std::string(16 << 20, '[')), MALFORMED + "nested deeper than 256 levels");
  EXPECT_EQ(decodeError(std::string("{}\0{\"x\":", 8)), MALFORMED + "a NUL byte in the text");

  for (
      const std::string& text : {
          std::string(R"({"highlight": {"enabled": 1}})"),
          std::string(R"({"highlight": {"allowed_roles": ["AXText", null]}})"),
          std::string(R"({"highlight": {"debug_window": {"visible": "yes"}}})"),
          std::string(R"({"highlight": {"logo_window": {"size": "big"}}})"),
          std::string(R"({"paths": {"logo_path": 3}})"),
          std::string(
              R"({"dictation": {"space_hold_enabled": 0, "space_hold_delay": 0, "ax_timeout_seconds": 0}})"),
          std::string(""),
          std::string("{} {}"),
          std::string("{\"highlight\": {\"color\": \"#ff\xff\xfe\"}}"),
          std::string("{\"x\": 1e400}"),
      }) {
    EXPECT_FALSE(decodeError(text).empty()) << text;
  }
}

TEST(NolariConfigHighlight, DerivedValuesPreferTheDebugWindowAndStayInRange) {
  NolariConfig::Highlight highlight;
  EXPECT_EQ(highlight.nsColor(), (Color{52 / 255.0, 152 / 255.0, 219 / 255.0, 1.0}));
  EXPECT_EQ(highlight.debugOpacity(), 0.3);
  EXPECT_EQ(highlight.debugPadding(), 2.0);

  highlight.debugWindow = {std::nullopt, "#ff0000", 1.7, -3.0};
  EXPECT_EQ(highlight.debugColorHex(), "#ff0000");
  EXPECT_EQ(highlight.nsColor(), (Color{1, 0, 0, 1}));
  EXPECT_EQ(highlight.debugOpacity(), 1.0);
  EXPECT_EQ(highlight.debugPadding(), 0.0);

  highlight.debugWindow = {};
  highlight.opacity = -0.5;
  EXPECT_EQ(highlight.debugOpacity(), 0.0);
  EXPECT_EQ(decoded(R"({"highlight": {"color": "blue"}})").highlight.nsColor(), SYSTEM_BLUE)
      << "a colour that does not parse still loads";
}

std::string logLine(std::string_view level, const std::string& message) {
  return "[" + NolariLogger::component() + "] [" + std::string(level) + "] " + message;
}

// Each test runs in an empty working directory of its own with no NOLARI_CONFIG_PATH.
class NolariConfigLoad : public ::testing::Test {
 protected:
  void SetUp() override {
    previousDirectory_ = fs::current_path();
    fs::current_path(directory_.path());
    base_ = fs::current_path();
    if (const char* value = std::getenv("NOLARI_CONFIG_PATH")) previousEnvironment_ = value;
    unsetenv("NOLARI_CONFIG_PATH");
  }

  void TearDown() override {
    fs::current_path(previousDirectory_);
    if (previousEnvironment_) setenv("NOLARI_CONFIG_PATH", previousEnvironment_->c_str(), 1);
  }

  static void write(const fs::path& path, const std::string& bytes) {
    if (path.has_parent_path()) fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
  }

  std::string joined(const std::string& relative) const { return (base_ / relative).string(); }

  NolariConfig load() {
    NolariConfig config;
    test::CaptureFd capture(STDERR_FILENO);
    config = NolariConfig::loadOrDefault();
    capture.restore();
    lines_ = capture.lines();
    return config;
  }

  test::TempDir directory_;
  fs::path previousDirectory_;
  fs::path base_;
  std::optional<std::string> previousEnvironment_;
  std::vector<std::string> lines_;
};

const std::string RED = R"({"highlight": {"color": "#ff0000"}})";
const std::string GREEN = R"({"highlight": {"color": "#00ff00"}})";

TEST_F(NolariConfigLoad, NothingFoundGivesTheDefaultsAndOneLine) {
  setenv("NOLARI_CONFIG_PATH", "", 1);
  EXPECT_EQ(load(), NolariConfig());
  EXPECT_EQ(lines_, (std::vector<std::string>{logLine("INFO", "Using default config")}));
}

TEST_F(NolariConfigLoad, EnvironmentPathWinsThenJoinedConfigFolderThenJoinedTopLevel) {
  write("nolari.json", RED);
  EXPECT_EQ(load().highlight.color, "#ff0000");
  EXPECT_EQ(
      lines_,
      (std::vector<std::string>{logLine("INFO", "Config loaded from: " + joined("nolari.json"))}));

  write("native/config/nolari.json", GREEN);
  EXPECT_EQ(load().highlight.color, "#00ff00");
  EXPECT_EQ(lines_, (std::vector<std::string>{logLine(
                        "INFO", "Config loaded from: " + joined("native/config/nolari.json"))}));

  write("custom/mine.json", RED);
  setenv("NOLARI_CONFIG_PATH", "custom/mine.json", 1);
  EXPECT_EQ(load().highlight.color, "#ff0000");
  EXPECT_EQ(lines_,
            (std::vector<std::string>{logLine("INFO", "Config loaded from: custom/mine.json")}));
}

TEST_F(NolariConfigLoad, BrokenFileIsTriedByBothPathsThenTheNextCandidateLoads) {
  const std::string broken = R"({"observer": {"enabled": true}})";
  const std::string reason = NolariConfig::decode(broken).errorDescription;
  const std::string failedJoined =
      "Failed to load config at " + joined("native/config/nolari.json") + ": " + reason;
  write("native/config/nolari.json", broken);
  write("nolari.json", GREEN);

  EXPECT_EQ(load().highlight.color, "#00ff00");
  EXPECT_EQ(lines_, (std::vector<std::string>{
                        logLine("WARN", failedJoined),
                        logLine("INFO", "Config loaded from: " + joined("nolari.json")),
                    }));

  fs::remove("nolari.json");
  EXPECT_EQ(load(), NolariConfig());
  EXPECT_EQ(lines_,
            (std::vector<std::string>{
                logLine("WARN", failedJoined),
                logLine("WARN", "Failed to load config at native/config/nolari.json: " + reason),
                logLine("INFO", "Using default config"),
            }));
}

TEST_F(NolariConfigLoad, UnreadableCandidatesWarnAndNeverStopTheSearch) {
  fs::create_directories("folder.json");
  ASSERT_EQ(mkfifo("pipe.json", 0600), 0);
  setenv("NOLARI_CONFIG_PATH", "folder.json", 1);
  write("native/config/nolari.json", "{\"highlight\": {\"color\": \"#\xc3\x28\"}}");
  write("nolari.json", "{}" + std::string(NolariConfig::MAX_FILE_BYTES, ' '));

  EXPECT_EQ(load(), NolariConfig());
  ASSERT_EQ(lines_.size(), 6u);
  EXPECT_EQ(lines_[0], logLine("WARN",
                               "Failed to load config at folder.json: "
                               "The file couldn't be opened because it is a directory."));
  EXPECT_TRUE(lines_[1].starts_with(logLine(
      "WARN",
      "Failed to load config at " + joined("native/config/nolari.json") + ": " + MALFORMED)));
  EXPECT_EQ(
      lines_[2],
      logLine("WARN", "Failed to load config at " + joined("nolari.json") +
                          ": The file couldn't be read because it is larger than 16777216 bytes."));
  EXPECT_EQ(lines_[5], logLine("INFO", "Using default config"));

  setenv("NOLARI_CONFIG_PATH", "pipe.json", 1);
  fs::remove_all("native");
  fs::remove("nolari.json");
  load();
  EXPECT_EQ(lines_, (std::vector<std::string>{
                        logLine("WARN",
                                "Failed to load config at pipe.json: "
                                "The file couldn't be opened because it is not a regular file."),
                        logLine("INFO", "Using default config"),
                    }));
}

TEST_F(NolariConfigLoad, LegacyFileIsTriedConfigFolderFirstAndSetsOnlyTheFourHighlightValues) {
  const std::string withoutPadding =
      R"({"highlight": {"enabled": true, "color": "#00ff00", "opacity": 0.5}})";
  const std::string reason = LegacyHighlightConfig::decode(withoutPadding).errorDescription;
  EXPECT_EQ(reason, MISSING + "no value for \"highlight.padding\".");
  write("nolari.json", "not json");
  write("native/config/highlight.json", withoutPadding);
  write("highlight.json",
        R"({"highlight": {"enabled": false, "color": "#0000ff", "opacity": 0.5, "padding": 4}})");

  NolariConfig expected;
  expected.highlight.enabled = false;
  expected.highlight.color = "#0000ff";
  expected.highlight.opacity = 0.5;
  expected.highlight.padding = 4;
  EXPECT_EQ(load(), expected);
  ASSERT_EQ(lines_.size(), 5u);
  EXPECT_EQ(lines_[2], logLine("WARN", "Failed to load legacy config at " +
                                           joined("native/config/highlight.json") + ": " + reason));
  EXPECT_EQ(
      lines_[3],
      logLine("WARN", "Failed to load legacy config at native/config/highlight.json: " + reason));
  EXPECT_EQ(lines_[4], logLine("INFO", "Legacy config loaded from: " + joined("highlight.json")));
}

}  // namespace
}  // namespace nolari

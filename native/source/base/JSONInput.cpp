#include "base/JSONInput.h"

#include "base/TextEncoding.h"

namespace nolari::JSONInput {

namespace {

struct TooDeep {};

}  // namespace

std::string readableMessage(std::string_view message) {
  if (message.starts_with("[json.exception.")) {
    const auto close = message.find("] ");
    if (close != std::string_view::npos) message.remove_prefix(close + 2);
  }
  return TextEncoding::repairUTF8(message);
}

template <class Json>
std::optional<Json> parse(std::string_view text, std::string& error) {
  if (text.find('\0') != std::string_view::npos) {
    error = "a NUL byte in the text";
    return std::nullopt;
  }
  // The callback sees each container as it opens, with the number of
  // containers around it, and ends the parse before the next level is built.
  auto depthLimit = [](int depth, nlohmann::json::parse_event_t event, Json&) {
    if (depth >= MAX_DEPTH && (event == nlohmann::json::parse_event_t::object_start ||
                               event == nlohmann::json::parse_event_t::array_start)) {
      throw TooDeep{};
    }
    return true;
  };
  try {
    return Json::parse(text.begin(), text.end(), depthLimit);
  } catch (const TooDeep&) {
    error = "nested deeper than ";
    error += std::to_string(MAX_DEPTH);
    error += " levels";
  } catch (const nlohmann::json::exception& failure) {
    error = readableMessage(failure.what());
  }
  return std::nullopt;
}

template std::optional<nlohmann::json> parse<nlohmann::json>(std::string_view, std::string&);
template std::optional<nlohmann::ordered_json> parse<nlohmann::ordered_json>(std::string_view,
                                                                             std::string&);

}  // namespace nolari::JSONInput

#include "base/JSONInput.h"

#include "base/TextEncoding.h"

namespace nolari::JSONInput {

namespace {

struct TooDeep {};

// The library's own document builder, with a count of the containers open
// around the next value: the parse ends before a level beyond MAX_DEPTH is
// built. The count costs nothing per value, where the library's parse
// callback looks back over the enclosing array each time a container closes
// inside it, which made a long list of objects quadratic.
template <class Json>
class DepthLimitedBuilder {
 public:
  using number_integer_t = typename Json::number_integer_t;
  using number_unsigned_t = typename Json::number_unsigned_t;
  using number_float_t = typename Json::number_float_t;
  using string_t = typename Json::string_t;
  using binary_t = typename Json::binary_t;

  explicit DepthLimitedBuilder(Json& result) : builder_(result) {}

  bool null() { return builder_.null(); }
  bool boolean(bool value) { return builder_.boolean(value); }
  bool number_integer(number_integer_t value) { return builder_.number_integer(value); }
  bool number_unsigned(number_unsigned_t value) { return builder_.number_unsigned(value); }
  bool number_float(number_float_t value, const string_t& text) {
    return builder_.number_float(value, text);
  }
  bool string(string_t& value) { return builder_.string(value); }
  bool binary(binary_t& value) { return builder_.binary(value); }
  bool key(string_t& value) { return builder_.key(value); }

  bool start_object(std::size_t length) {
    enter();
    return builder_.start_object(length);
  }
  bool end_object() {
    --depth_;
    return builder_.end_object();
  }
  bool start_array(std::size_t length) {
    enter();
    return builder_.start_array(length);
  }
  bool end_array() {
    --depth_;
    return builder_.end_array();
  }

  template <class Exception>
  bool parse_error(std::size_t position, const std::string& token, const Exception& failure) {
    return builder_.parse_error(position, token, failure);
  }

 private:
  void enter() {
    if (depth_ >= MAX_DEPTH) throw TooDeep{};
    ++depth_;
  }

  nlohmann::detail::json_sax_dom_parser<Json> builder_;
  int depth_ = 0;
};

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
  try {
    Json result;
    DepthLimitedBuilder<Json> builder(result);
    // The builder throws every error, so a false return never comes.
    static_cast<void>(Json::sax_parse(text.begin(), text.end(), &builder));
    return result;
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

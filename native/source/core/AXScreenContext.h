#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include <nlohmann/json.hpp>

#include "platform/Accessibility.h"

// The context around the focused text field: its own texts, its parent, the
// labels of its ancestors, readable texts of its window, the header fields of
// a message being composed and the window's document. Every walk is bounded,
// because each element costs synchronous requests to another application.

namespace nolari::AXScreenContext {

using platform::Accessibility;
using platform::AXUIElement;

inline constexpr std::size_t MAX_TEXT_LEN = 160;
inline constexpr std::size_t MAX_BREADCRUMBS = 4;
inline constexpr std::size_t MAX_VISIBLE_TEXTS = 12;
inline constexpr int MAX_TRAVERSAL_DEPTH = 6;
inline constexpr int MAX_TRAVERSAL_NODES = 240;
// Levels 0 to 5 above the focused element.
inline constexpr int MAX_BREADCRUMB_ANCESTORS = 6;

// Header fields by label prefix. Order matters: a field takes the first pair
// not yet filled whose prefix begins its label.
inline constexpr std::array<std::pair<std::string_view, std::string_view>, 7> COMPOSE_LABELS = {{
    {"compose_to", "to"},
    {"compose_cc", "cc"},
    {"compose_bcc", "bcc"},
    {"compose_subject", "subject"},
    {"compose_from", "from"},
    {"compose_channel", "channel"},
    {"compose_thread", "thread"},
}};

// Flat object: "focused_value", "focused_label", "focused_help",
// "focused_placeholder", "focused_role_description", "focused_parent_role",
// "focused_parent_title" (strings), "breadcrumbs" and "visible_texts" (arrays
// of strings), and when found the "compose_" keys and "document_url".
nlohmann::json build(Accessibility& ax, const AXUIElement& focused, std::int32_t pid);

// Surrounding white space removed; longer than MAX_TEXT_LEN characters, the
// first MAX_TEXT_LEN followed by "…".
std::string trim(std::string_view text);

}  // namespace nolari::AXScreenContext

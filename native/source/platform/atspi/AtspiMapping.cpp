#include "platform/atspi/AtspiMapping.h"

#include <atspi/atspi-constants.h>

#include <array>
#include <unordered_map>

namespace nolari::platform::AtspiMapping {

namespace {

const std::unordered_map<int, const char*>& fixedRoles() {
  static const std::unordered_map<int, const char*> roles = {
      {ATSPI_ROLE_APPLICATION, "AXApplication"},
      {ATSPI_ROLE_FRAME, "AXWindow"},
      {ATSPI_ROLE_DIALOG, "AXWindow"},
      {ATSPI_ROLE_WINDOW, "AXWindow"},
      {ATSPI_ROLE_ALERT, "AXWindow"},
      {ATSPI_ROLE_EDITBAR, "AXTextField"},
      {ATSPI_ROLE_PASSWORD_TEXT, "AXSecureTextField"},
      {ATSPI_ROLE_TERMINAL, "AXTextArea"},
      {ATSPI_ROLE_AUTOCOMPLETE, "AXComboBox"},
      {ATSPI_ROLE_LABEL, "AXStaticText"},
      {ATSPI_ROLE_STATIC, "AXStaticText"},
      {ATSPI_ROLE_CAPTION, "AXStaticText"},
      {ATSPI_ROLE_ACCELERATOR_LABEL, "AXStaticText"},
      {ATSPI_ROLE_HEADING, "AXHeading"},
      {ATSPI_ROLE_PUSH_BUTTON, "AXButton"},
      {ATSPI_ROLE_PUSH_BUTTON_MENU, "AXMenuButton"},
      {ATSPI_ROLE_TOGGLE_BUTTON, "AXCheckBox"},
      {ATSPI_ROLE_CHECK_BOX, "AXCheckBox"},
      {ATSPI_ROLE_RADIO_BUTTON, "AXRadioButton"},
      {ATSPI_ROLE_LINK, "AXLink"},
      {ATSPI_ROLE_MENU_ITEM, "AXMenuItem"},
      {ATSPI_ROLE_CHECK_MENU_ITEM, "AXMenuItem"},
      {ATSPI_ROLE_RADIO_MENU_ITEM, "AXMenuItem"},
      {ATSPI_ROLE_TEAROFF_MENU_ITEM, "AXMenuItem"},
      {ATSPI_ROLE_MENU, "AXMenu"},
      {ATSPI_ROLE_POPUP_MENU, "AXMenu"},
      {ATSPI_ROLE_MENU_BAR, "AXMenuBar"},
      {ATSPI_ROLE_LIST, "AXList"},
      {ATSPI_ROLE_LIST_BOX, "AXList"},
      {ATSPI_ROLE_LIST_ITEM, "AXListItem"},
      {ATSPI_ROLE_TREE, "AXOutline"},
      {ATSPI_ROLE_TREE_ITEM, "AXRow"},
      {ATSPI_ROLE_TABLE, "AXTable"},
      {ATSPI_ROLE_TREE_TABLE, "AXTable"},
      {ATSPI_ROLE_TABLE_ROW, "AXRow"},
      {ATSPI_ROLE_TABLE_CELL, "AXCell"},
      {ATSPI_ROLE_COLUMN_HEADER, "AXCell"},
      {ATSPI_ROLE_ROW_HEADER, "AXCell"},
      {ATSPI_ROLE_TABLE_COLUMN_HEADER, "AXCell"},
      {ATSPI_ROLE_TABLE_ROW_HEADER, "AXCell"},
      {ATSPI_ROLE_SCROLL_PANE, "AXScrollArea"},
      {ATSPI_ROLE_SCROLL_BAR, "AXScrollBar"},
      {ATSPI_ROLE_SPLIT_PANE, "AXSplitGroup"},
      {ATSPI_ROLE_DOCUMENT_WEB, "AXWebArea"},
      {ATSPI_ROLE_DOCUMENT_FRAME, "AXWebArea"},
      {ATSPI_ROLE_IMAGE, "AXImage"},
      {ATSPI_ROLE_ICON, "AXImage"},
      {ATSPI_ROLE_DESKTOP_ICON, "AXImage"},
      {ATSPI_ROLE_SLIDER, "AXSlider"},
      {ATSPI_ROLE_DIAL, "AXSlider"},
      {ATSPI_ROLE_SPIN_BUTTON, "AXIncrementor"},
      {ATSPI_ROLE_PROGRESS_BAR, "AXProgressIndicator"},
      {ATSPI_ROLE_LEVEL_BAR, "AXLevelIndicator"},
      {ATSPI_ROLE_PAGE_TAB_LIST, "AXTabGroup"},
      {ATSPI_ROLE_PAGE_TAB, "AXTabButton"},
      {ATSPI_ROLE_TOOL_BAR, "AXToolbar"},
      {ATSPI_ROLE_TOOL_TIP, "AXHelpTag"},
      {ATSPI_ROLE_DATE_EDITOR, "AXDateField"},
      {ATSPI_ROLE_RULER, "AXRuler"},
  };
  return roles;
}

// Containers whose only job is layout read as groups.
constexpr std::array GROUP_ROLES = {
    ATSPI_ROLE_PANEL,
    ATSPI_ROLE_FILLER,
    ATSPI_ROLE_GROUPING,
    ATSPI_ROLE_SECTION,
    ATSPI_ROLE_FORM,
    ATSPI_ROLE_VIEWPORT,
    ATSPI_ROLE_LAYERED_PANE,
    ATSPI_ROLE_ROOT_PANE,
    ATSPI_ROLE_GLASS_PANE,
    ATSPI_ROLE_OPTION_PANE,
    ATSPI_ROLE_INTERNAL_FRAME,
    ATSPI_ROLE_HTML_CONTAINER,
    ATSPI_ROLE_BLOCK_QUOTE,
    ATSPI_ROLE_ARTICLE,
    ATSPI_ROLE_LANDMARK,
    ATSPI_ROLE_HEADER,
    ATSPI_ROLE_FOOTER,
    ATSPI_ROLE_STATUS_BAR,
    ATSPI_ROLE_EMBEDDED,
    ATSPI_ROLE_CANVAS,
    ATSPI_ROLE_DRAWING_AREA,
    ATSPI_ROLE_CALENDAR,
    ATSPI_ROLE_TITLE_BAR,
    ATSPI_ROLE_INFO_BAR,
    ATSPI_ROLE_NOTIFICATION,
    ATSPI_ROLE_DESKTOP_FRAME,
    ATSPI_ROLE_DOCUMENT_SPREADSHEET,
    ATSPI_ROLE_DOCUMENT_PRESENTATION,
    ATSPI_ROLE_FILE_CHOOSER,
    ATSPI_ROLE_COLOR_CHOOSER,
    ATSPI_ROLE_FONT_CHOOSER,
    ATSPI_ROLE_DIRECTORY_PANE,
    ATSPI_ROLE_PAGE,
};

bool contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

}  // namespace

std::string axRole(int role, RoleStates states) {
  switch (role) {
    // Browsers give a multi-line entry (a page's text area) the entry role.
    case ATSPI_ROLE_TEXT:
    case ATSPI_ROLE_ENTRY:
      return states.multiLine ? "AXTextArea" : "AXTextField";
    // A combo box the user can type into is a combo box; one that only
    // offers a choice is a pop-up button.
    case ATSPI_ROLE_COMBO_BOX:
      return states.editable ? "AXComboBox" : "AXPopUpButton";
    // Editable documents and editable web regions are where mail and
    // messages are written.
    case ATSPI_ROLE_DOCUMENT_TEXT:
    case ATSPI_ROLE_DOCUMENT_EMAIL:
      return states.editable ? "AXTextArea" : "AXWebArea";
    case ATSPI_ROLE_PARAGRAPH:
      return states.editable ? "AXTextArea" : "AXStaticText";
    case ATSPI_ROLE_SECTION:
      if (states.editable) return "AXTextArea";
      break;
    default:
      break;
  }
  if (auto it = fixedRoles().find(role); it != fixedRoles().end()) return it->second;
  for (int group : GROUP_ROLES) {
    if (group == role) return "AXGroup";
  }
  return "AXUnknown";
}

bool isWindowRole(int role) {
  return role == ATSPI_ROLE_FRAME || role == ATSPI_ROLE_DIALOG || role == ATSPI_ROLE_WINDOW ||
         role == ATSPI_ROLE_ALERT;
}

bool hasTextValue(int role, RoleStates states) {
  switch (role) {
    case ATSPI_ROLE_TEXT:
    case ATSPI_ROLE_ENTRY:
    case ATSPI_ROLE_EDITBAR:
    case ATSPI_ROLE_TERMINAL:
    case ATSPI_ROLE_AUTOCOMPLETE:
    case ATSPI_ROLE_LABEL:
    case ATSPI_ROLE_STATIC:
    case ATSPI_ROLE_CAPTION:
    case ATSPI_ROLE_HEADING:
    case ATSPI_ROLE_PARAGRAPH:
    case ATSPI_ROLE_LINK:
    case ATSPI_ROLE_COMBO_BOX:
    case ATSPI_ROLE_SPIN_BUTTON:
      return true;
    case ATSPI_ROLE_DOCUMENT_TEXT:
    case ATSPI_ROLE_DOCUMENT_EMAIL:
    case ATSPI_ROLE_SECTION:
      return states.editable;
    default:
      return false;
  }
}

AXError errorFromMessage(std::string_view message) {
  for (std::string_view gone :
       {"no longer exists", "ServiceUnknown", "UnknownObject", "Disconnected",
        "not provided by any", "does not exist", "defunct", "NameHasNoOwner"}) {
    if (contains(message, gone)) return AXErrorCode::invalidUIElement;
  }
  for (std::string_view missing :
       {"UnknownMethod", "Unknown method", "UnknownInterface", "No such interface",
        "not implemented", "not supported", "doesn't exist", "InvalidArgs"}) {
    if (contains(message, missing)) return AXErrorCode::attributeUnsupported;
  }
  return AXErrorCode::cannotComplete;
}

}  // namespace nolari::platform::AtspiMapping

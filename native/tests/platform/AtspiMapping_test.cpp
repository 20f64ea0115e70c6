#include "platform/atspi/AtspiMapping.h"

#include <atspi/atspi-constants.h>
#include <gtest/gtest.h>

namespace nolari::platform {
namespace {

using AtspiMapping::axRole;

TEST(AtspiMapping, TextRolesFollowTheirStates) {
  EXPECT_EQ(axRole(ATSPI_ROLE_TEXT, {}), "AXTextField");
  EXPECT_EQ(axRole(ATSPI_ROLE_TEXT, {.multiLine = true}), "AXTextArea");
  EXPECT_EQ(axRole(ATSPI_ROLE_PASSWORD_TEXT, {}), "AXSecureTextField");
  EXPECT_EQ(axRole(ATSPI_ROLE_ENTRY, {}), "AXTextField");
  EXPECT_EQ(axRole(ATSPI_ROLE_ENTRY, {.multiLine = true}), "AXTextArea");
  EXPECT_EQ(axRole(ATSPI_ROLE_COMBO_BOX, {.editable = true}), "AXComboBox");
  EXPECT_EQ(axRole(ATSPI_ROLE_COMBO_BOX, {}), "AXPopUpButton");
  EXPECT_EQ(axRole(ATSPI_ROLE_SECTION, {.editable = true}), "AXTextArea");
  EXPECT_EQ(axRole(ATSPI_ROLE_SECTION, {}), "AXGroup");
  EXPECT_EQ(axRole(ATSPI_ROLE_DOCUMENT_EMAIL, {.editable = true}), "AXTextArea");
}

TEST(AtspiMapping, ContainersControlsAndWindows) {
  EXPECT_EQ(axRole(ATSPI_ROLE_LABEL, {.multiLine = true}), "AXStaticText");
  EXPECT_EQ(axRole(ATSPI_ROLE_PUSH_BUTTON, {}), "AXButton");
  EXPECT_EQ(axRole(ATSPI_ROLE_FRAME, {}), "AXWindow");
  EXPECT_EQ(axRole(ATSPI_ROLE_DIALOG, {}), "AXWindow");
  EXPECT_EQ(axRole(ATSPI_ROLE_PANEL, {}), "AXGroup");
  EXPECT_EQ(axRole(ATSPI_ROLE_FILLER, {}), "AXGroup");
  EXPECT_EQ(axRole(ATSPI_ROLE_SCROLL_PANE, {}), "AXScrollArea");
  EXPECT_EQ(axRole(ATSPI_ROLE_DOCUMENT_WEB, {}), "AXWebArea");
  EXPECT_EQ(axRole(ATSPI_ROLE_HEADING, {}), "AXHeading");
  EXPECT_EQ(axRole(ATSPI_ROLE_LINK, {}), "AXLink");
  EXPECT_EQ(axRole(ATSPI_ROLE_CHECK_BOX, {}), "AXCheckBox");
  EXPECT_EQ(axRole(ATSPI_ROLE_RADIO_BUTTON, {}), "AXRadioButton");
  EXPECT_EQ(axRole(ATSPI_ROLE_CHECK_MENU_ITEM, {}), "AXMenuItem");
  EXPECT_EQ(axRole(ATSPI_ROLE_LIST_BOX, {}), "AXList");
  EXPECT_EQ(axRole(ATSPI_ROLE_TABLE, {}), "AXTable");
  EXPECT_EQ(axRole(ATSPI_ROLE_APPLICATION, {}), "AXApplication");
  EXPECT_EQ(axRole(ATSPI_ROLE_INVALID, {}), "AXUnknown");
  EXPECT_EQ(axRole(ATSPI_ROLE_SEPARATOR, {}), "AXUnknown");
  EXPECT_TRUE(AtspiMapping::isWindowRole(ATSPI_ROLE_DIALOG));
  EXPECT_FALSE(AtspiMapping::isWindowRole(ATSPI_ROLE_PANEL));
}

TEST(AtspiMapping, FailuresBecomeErrorCodes) {
  using AtspiMapping::errorFromMessage;
  EXPECT_EQ(errorFromMessage("The application no longer exists"), AXErrorCode::invalidUIElement);
  EXPECT_EQ(errorFromMessage("org.freedesktop.DBus.Error.ServiceUnknown: The name :1.5 was not "
                             "provided by any .service files"),
            AXErrorCode::invalidUIElement);
  EXPECT_EQ(errorFromMessage("org.freedesktop.DBus.Error.UnknownMethod: No such method"),
            AXErrorCode::attributeUnsupported);
  EXPECT_EQ(errorFromMessage("Did not receive a reply. Possible causes include: ..."),
            AXErrorCode::cannotComplete);
  EXPECT_EQ(errorFromMessage(""), AXErrorCode::cannotComplete);
}

}  // namespace
}  // namespace nolari::platform

#include "TOLVA_CF/logic/help_pages.h"

#include <gtest/gtest.h>

#include "TOLVA_CF/dialogs/dialog_services.h"
#include "qt_fixture.h"
#include "support/temp_dir.h"

namespace {

TEST(HelpPages, LieBesideTheLibraryNamedAfterIt) {
    EXPECT_EQ(tolva::cf::help_page_path("/opt/q/bin/TOLVA_CF.so", "chanaddr"),
              "/opt/q/bin/TOLVA_CF-help/html/chanaddr.htm");
    EXPECT_EQ(tolva::cf::help_page_path("/opt/q/bin/TOLVA_CF.so", tolva::cf::kCommHelpTopic),
              "/opt/q/bin/TOLVA_CF-help/html/commport.htm");
}

TEST(HelpPages, ThisModuleIsTheRunningBinary) {
    EXPECT_EQ(tolva::cf::this_module_path().filename(), "TOLVA_CF_help_pages_test");
}

class DesktopHelp : public tolva_cf_test::QtDialogTest {};

TEST_F(DesktopHelp, AMissingPageIsReportedNotIgnored) {
    qvr_test::TempDir dir;
    tolva::cf::DesktopHelpPages pages(dir / "TOLVA_CF.so", messages);
    pages.open(nullptr, "chanaddr");
    ASSERT_EQ(messages.texts.size(), 1u);
    EXPECT_EQ(messages.texts[0],
              "The help page " + (dir / "TOLVA_CF-help/html/chanaddr.htm").string() + " is missing.");
}

}  // namespace

#include "app/ManualPage.h"
#include "app/CommandLine.h"

#include <gtest/gtest.h>

namespace {

TEST(ManualPageTest, CarriesEveryOptionOfTheHelpWithItsText) {
    const std::string page = ManualPage::render("1.2.3", "2026-12-07");
    EXPECT_EQ(page.rfind(".TH LUMAREX 1 \"2026-12-07\" \"Lumarex 1.2.3\"", 0), 0u) << page;
    const std::string usage = CommandLine::usage();
    for (const auto& group : CommandLine::help().groups) {
        EXPECT_NE(page.find(".SS \"" + group.heading + "\""), std::string::npos) << group.heading;
        for (const auto& option : group.options) {
            EXPECT_NE(page.find(".B " + ManualPage::escape(option.name) + "\n" +
                                ManualPage::escape(option.description) + "\n"),
                      std::string::npos)
                << option.name;
            EXPECT_NE(usage.find(option.name), std::string::npos);
            EXPECT_NE(usage.find(option.description), std::string::npos) << "short enough not to wrap";
        }
    }
}

TEST(ManualPageTest, EscapesWhatRoffWouldReadAsRequests) {
    EXPECT_EQ(ManualPage::escape("--show"), "\\-\\-show");
    EXPECT_EQ(ManualPage::escape("a\\b"), "a\\eb");
    EXPECT_EQ(ManualPage::escape(".config"), "\\&.config");
    EXPECT_EQ(ManualPage::escape("'quoted'"), "\\&'quoted'");
}

} // namespace

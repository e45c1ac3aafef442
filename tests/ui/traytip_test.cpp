#include "ui/traytip.h"

#include <gtest/gtest.h>

TEST(TrayTipText, TextThatFitsIsUnchanged) {
    EXPECT_EQ(TrayTipText(""), "");
    EXPECT_EQ(TrayTipText("Everything is OK !"), "Everything is OK !");
    const std::string full(TrayTipCapacity, 'x');
    EXPECT_EQ(TrayTipText(full), full);
}

TEST(TrayTipText, LongTextKeepsItsBeginningAndIsMarked) {
    std::string tip;
    for (int i = 0; i < 20; ++i)
        tip += (i ? "\r\n" : "") + std::string("http://site") + std::to_string(i) + ".test/";
    const std::string cut = TrayTipText(tip);
    EXPECT_LE(cut.size(), TrayTipCapacity);
    EXPECT_EQ(cut.substr(cut.size() - 3), "...");
    EXPECT_EQ(tip.compare(0, cut.size() - 3, cut, 0, cut.size() - 3), 0);

    EXPECT_EQ(TrayTipText(std::string(TrayTipCapacity + 1, 'y')).size(), TrayTipCapacity);
}

TEST(TrayTipText, CutNeverLeavesHalfALineBreak) {
    // Put the CR of a line break exactly at the last kept character, then the LF.
    for (std::size_t at = TrayTipCapacity - 6; at < TrayTipCapacity; ++at) {
        std::string tip(at, 'a');
        tip += "\r\n";
        tip += std::string(200, 'b');
        const std::string cut = TrayTipText(tip);
        ASSERT_LE(cut.size(), TrayTipCapacity);
        const std::string body = cut.substr(0, cut.size() - 3);
        EXPECT_TRUE(body.empty() || (body.back() != '\r' && body.back() != '\n')) << at;
    }
}

TEST(TrayTipText, CountsWhatTheShellsFieldHoldsAndCutsWholeCharacters) {
    // Two bytes, one unit each: 127 fit although they take 254 bytes.
    std::string cyrillic;
    for (std::size_t i = 0; i < TrayTipCapacity; ++i)
        cyrillic += "\xD0\xBA";
    EXPECT_EQ(TrayTipText(cyrillic), cyrillic);
    const std::string cut = TrayTipText(cyrillic + "\xD0\xBA");
    EXPECT_EQ(cut, cyrillic.substr(0, 2 * (TrayTipCapacity - 3)) + "...");
    // Four bytes, two units: a character that would straddle the field's end is left out.
    std::string wide(TrayTipCapacity - 4, 'a');
    wide += "\xF0\x9F\x98\x80\xF0\x9F\x98\x80\xF0\x9F\x98\x80";
    EXPECT_EQ(TrayTipText(wide), std::string(TrayTipCapacity - 4, 'a') + "...");
}

TEST(TrayTipText, MaintenanceStandsFirstSoThatACutNeverTakesIt) {
    EXPECT_EQ(TipWithMaintenance("Everything is OK !", ""), "Everything is OK !");
    EXPECT_EQ(TipWithMaintenance("Everything is OK !", "in maintenance until 11:40"),
              "In maintenance until 11:40\r\nEverything is OK !");
    EXPECT_EQ(MaintenanceLine("2 sites in maintenance until 11:40"),
              "2 sites in maintenance until 11:40");
    const std::string cut =
        TrayTipText(TipWithMaintenance(std::string(200, 'x'), "in maintenance until 11:40"));
    EXPECT_EQ(cut.rfind("In maintenance until 11:40\r\n", 0), 0u) << cut;
}

#include "wizard/dialog_opening.h"

#include <gtest/gtest.h>

namespace {

const RECT kScreen = {0, 0, 1024, 768};

RECT Sized(LONG left, LONG top, LONG width, LONG height) {
    return {left, top, left + width, top + height};
}

struct Placement {
    const char* what;
    RECT reference;
    RECT dialog;
    LONG left;
    LONG top;
};

const Placement kPlacements[] = {
    {"centred", kScreen, Sized(0, 0, 400, 300), 312, 234},
    {"from elsewhere", kScreen, Sized(-50, 700, 400, 300), 312, 234},
    {"halves truncated", kScreen, Sized(0, 0, 401, 301), 311, 233},  // 311.5, 233.5
    {"on an owner", Sized(100, 50, 600, 400), Sized(0, 0, 200, 100), 300, 200},
    {"pushed off right and bottom", Sized(900, 700, 300, 200), Sized(0, 0, 200, 100), 824, 668},
    {"pushed off left and top", Sized(-300, -200, 100, 100), Sized(0, 0, 200, 100), 0, 0},
    // Centred at (-88, -66); clamped right and bottom first, then left and top.
    {"larger than the screen", kScreen, Sized(0, 0, 1200, 900), 0, 0},
    {"wider than the screen", kScreen, Sized(0, 0, 1100, 300), 0, 234},
};

}  // namespace

TEST(DialogCentring, CentresOnTheReferenceThenPullsTheDialogOntoTheScreen) {
    for (const Placement& placement : kPlacements) {
        const RECT& dialog = placement.dialog;
        const RECT placed = CentredDialogRect(placement.reference, dialog, kScreen);
        EXPECT_EQ(placement.left, placed.left) << placement.what;
        EXPECT_EQ(placement.top, placed.top) << placement.what;
        EXPECT_EQ(dialog.right - dialog.left, placed.right - placed.left) << placement.what;
        EXPECT_EQ(dialog.bottom - dialog.top, placed.bottom - placed.top) << placement.what;
    }
}

TEST(TitleFont, HeightIsFourteenTenthsTruncatedTowardZero) {
    EXPECT_EQ(-16, TitleFontHeight(-12));
    EXPECT_EQ(-15, TitleFontHeight(-11));  // -15.4, not -16
    EXPECT_EQ(15, TitleFontHeight(11));
}

TEST(ThemedDialog, StartsAtVersionFiveOne) {
    EXPECT_FALSE(IsThemedDialogVersion(4, 10));
    EXPECT_FALSE(IsThemedDialogVersion(5, 0));
    EXPECT_TRUE(IsThemedDialogVersion(5, 1));
    EXPECT_TRUE(IsThemedDialogVersion(6, 0));
}

#include "wizard/dialog_opening.h"

#include <gtest/gtest.h>

namespace {

const RECT kScreen = {0, 0, 1024, 768};

RECT Sized(LONG left, LONG top, LONG width, LONG height) {
    return {left, top, left + width, top + height};
}

}  // namespace

TEST(DialogCentring, CentresOnTheScreenWhateverTheStartingPlace) {
    for (const RECT& start : {Sized(0, 0, 400, 300), Sized(-50, 700, 400, 300)}) {
        const RECT placed = CentredDialogRect(kScreen, start, kScreen);
        EXPECT_EQ(312, placed.left);
        EXPECT_EQ(234, placed.top);
        EXPECT_EQ(400, placed.right - placed.left);
        EXPECT_EQ(300, placed.bottom - placed.top);
    }
}

TEST(DialogCentring, HalvesTruncateTowardZero) {
    // (1024 - 401) / 2 = 311.5 and (768 - 301) / 2 = 233.5.
    const RECT placed = CentredDialogRect(kScreen, Sized(0, 0, 401, 301), kScreen);
    EXPECT_EQ(311, placed.left);
    EXPECT_EQ(233, placed.top);
}

TEST(DialogCentring, ReferenceAwayFromTheOriginShiftsTheResult) {
    const RECT owner = Sized(100, 50, 600, 400);
    const RECT placed = CentredDialogRect(owner, Sized(0, 0, 200, 100), kScreen);
    EXPECT_EQ(300, placed.left);
    EXPECT_EQ(200, placed.top);
}

TEST(DialogCentring, DialogPushedOffTheScreenIsPulledBackOn) {
    const RECT owner = Sized(900, 700, 300, 200);
    const RECT placed = CentredDialogRect(owner, Sized(0, 0, 200, 100), kScreen);
    EXPECT_EQ(824, placed.left);
    EXPECT_EQ(668, placed.top);
    const RECT left =
        CentredDialogRect(Sized(-300, -200, 100, 100), Sized(0, 0, 200, 100), kScreen);
    EXPECT_EQ(0, left.left);
    EXPECT_EQ(0, left.top);
}

TEST(DialogCentring, DialogLargerThanTheScreenSitsAtItsTopLeftCorner) {
    // Centred it would start at (-88, -66) and, right and bottom clamped, at (-176, -132).
    for (const RECT& start : {Sized(0, 0, 1200, 900), Sized(-13, 17, 1201, 901)}) {
        const RECT placed = CentredDialogRect(kScreen, start, kScreen);
        EXPECT_EQ(0, placed.left);
        EXPECT_EQ(0, placed.top);
        EXPECT_EQ(start.right - start.left, placed.right - placed.left);
        EXPECT_EQ(start.bottom - start.top, placed.bottom - placed.top);
    }
    const RECT wideOnly = CentredDialogRect(kScreen, Sized(0, 0, 1100, 300), kScreen);
    EXPECT_EQ(0, wideOnly.left);
    EXPECT_EQ(234, wideOnly.top);
}

TEST(TitleFont, HeightIsFourteenTenthsTruncatedTowardZero) {
    EXPECT_EQ(-16, TitleFontHeight(-12));
    EXPECT_EQ(-15, TitleFontHeight(-11));
    EXPECT_EQ(-18, TitleFontHeight(-13));
    EXPECT_EQ(15, TitleFontHeight(11));
    EXPECT_EQ(0, TitleFontHeight(0));
}

TEST(ThemedDialog, StartsAtVersionFiveOne) {
    EXPECT_FALSE(IsThemedDialogVersion(4, 10));
    EXPECT_FALSE(IsThemedDialogVersion(5, 0));
    EXPECT_TRUE(IsThemedDialogVersion(5, 1));
    EXPECT_TRUE(IsThemedDialogVersion(5, 2));
    EXPECT_TRUE(IsThemedDialogVersion(6, 0));
    EXPECT_TRUE(IsThemedDialogVersion(10, 0));
}

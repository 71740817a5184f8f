// The band's colour as the phone writes it.
#include "screens/logic/set_editor.hpp"

#include <gtest/gtest.h>

namespace {

using screens::RgbaColor;

TEST(BandColor, ReadsEightSixAndThreeDigitsAndFallsBackToBlack) {
    EXPECT_EQ(screens::parseBandColor("#FF0000"), (RgbaColor{1, 0, 0, 1}));
    EXPECT_EQ(screens::parseBandColor("abc"),
              (RgbaColor{0xAA / 255.0, 0xBB / 255.0, 0xCC / 255.0, 1}));
    EXPECT_EQ(screens::parseBandColor("#80-00FF00"), (RgbaColor{0, 1, 0, 0x80 / 255.0}));
    for (const char* text : {"12345", "", "#", "#GG0000", "0xFF0000", "FF00ÄÄ"}) {
        EXPECT_EQ(screens::parseBandColor(text), (RgbaColor{0, 0, 0, 1})) << text;
    }
}

} // namespace

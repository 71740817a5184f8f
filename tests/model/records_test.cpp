#include "model/barbell.hpp"
#include "model/palette.hpp"
#include "model/set_type.hpp"

#include <gtest/gtest.h>

using model::PaletteColor;
using model::SetType;

TEST(SetTypeText, ConvertsExactlyBothWays) {
    for (auto type : {SetType::warmup, SetType::regular, SetType::drop, SetType::pr, SetType::joker,
                      SetType::restPause, SetType::myoReps, SetType::failed}) {
        EXPECT_EQ(model::setTypeFromText(model::toText(type)), type);
    }
    EXPECT_EQ(model::setTypeFromText("myoReps"), SetType::myoReps);
    EXPECT_EQ(model::toText(SetType::restPause), "restPause");
    EXPECT_FALSE(model::setTypeFromText("Warmup"));
    EXPECT_FALSE(model::setTypeFromText("REGULAR"));
    EXPECT_FALSE(model::setTypeFromText(""));
}

TEST(SetTypeInfos, OfferSevenKindsWithoutMyoReps) {
    const auto& infos = model::setTypeInfos();
    ASSERT_EQ(infos.size(), 7u);
    EXPECT_EQ(infos.front().type, SetType::warmup);
    EXPECT_EQ(infos.back().type, SetType::failed);
    for (const auto& info : infos) {
        EXPECT_NE(info.type, SetType::myoReps);
    }
    EXPECT_EQ(infos[3].name, "Personal Record (AMRAP)");
    EXPECT_EQ(infos[3].initials, "PR");
    EXPECT_EQ(infos[3].setNumber, "P");
    EXPECT_EQ(infos[5].initials, "RP");
}

TEST(SupersetColor, IndexesThePaletteModuloSix) {
    EXPECT_EQ(model::supersetColor(0), PaletteColor::green);
    EXPECT_EQ(model::supersetColor(5), PaletteColor::blue);
    EXPECT_EQ(model::supersetColor(7), PaletteColor::yellow);
    EXPECT_EQ(model::supersetColor(std::nullopt), PaletteColor::secondary);
}

TEST(SupersetColor, KeepsNegativeNumbersInsideThePalette) {
    EXPECT_EQ(model::supersetColor(-1), PaletteColor::blue);
    EXPECT_EQ(model::supersetColor(-6), PaletteColor::green);
    EXPECT_EQ(model::supersetColor(std::numeric_limits<std::int64_t>::min()),
              model::supersetPalette[static_cast<std::size_t>(
                  (std::numeric_limits<std::int64_t>::min() % 6 + 6) % 6)]);
}

TEST(DefaultBarbell, WeighsFortyFivePoundsOrTwentyOfAnyOtherUnit) {
    EXPECT_EQ(model::defaultBarbell("lb"), (model::Barbell{"Olympic Bar", 45, "lb"}));
    EXPECT_EQ(model::defaultBarbell("kg"), (model::Barbell{"Olympic Bar", 20, "kg"}));
    EXPECT_EQ(model::defaultBarbell("LB").weight, 20);
}

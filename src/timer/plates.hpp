#pragma once

#include "model/palette.hpp"
#include "model/plate.hpp"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace timer {

// The multiplier computePlates uses when the exercise's own is not at least 1: the decoder's
// default for a multiplier it cannot use, so that a bar keeps equal sides.
inline constexpr std::int64_t fallbackPlateMultiplier = 2;

// The plates to load to reach targetWeight on a bar of barWeight, heaviest first, each with the
// total count loaded over all plateMultiplier sides. The counts are multiples of the multiplier
// so every side gets the same plates; an inventory quantity of 0 means no limit, and a limited
// plate with fewer than one per side is not used. Never loads more than the target; a target
// below the bar, or a weight that is not finite, gives no plates.
std::vector<model::Plate> computePlates(double targetWeight, double barWeight,
                                        std::span<const model::Plate> plates,
                                        std::int64_t plateMultiplier);

// The colour a plate is drawn in: dark on the watch's dark background, light elsewhere.
struct PlateColor {
    model::Rgb dark;
    model::Rgb light;
    bool operator==(const PlateColor&) const = default;
};

// The standard plate colours by exact weight, pounds for units "lb" and kilograms for any other
// units; a weight outside the table is grey.
PlateColor plateColor(std::string_view units, double weight);

// One row of the plate calculator and of the rest timer's plate list.
struct PlateRow {
    static constexpr double circleDiameter = 36;
    static constexpr double countColumnWidth = 42;

    std::string id;
    PlateColor color;
    // The plate's weight as "%g" prints it, drawn inside the circle.
    std::string weightText;
    // The count per side: the plate's total count halved, in whole numbers.
    std::int64_t perSide = 0;
    // "x" and the count per side.
    std::string countText;
};

std::vector<PlateRow> plateRows(std::span<const model::Plate> plates);

} // namespace timer

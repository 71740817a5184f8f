#include "timer/plates.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <utility>

namespace timer {

namespace {

// Far more plates than any inventory holds, small enough that a double counts it exactly: the
// count of an unlimited plate is capped here instead of overflowing the conversion.
constexpr double countCap = 1099511627776.0; // 2^40

constexpr int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return c - 'a' + 10;
}

constexpr model::Rgb fromHex(std::string_view text) {
    auto byte = [&](std::size_t at) {
        return static_cast<std::uint8_t>(hexDigit(text[at]) * 16 + hexDigit(text[at + 1]));
    };
    return {byte(1), byte(3), byte(5)};
}

// The platform's standard grey, for weights outside the table.
constexpr model::Rgb standardGrey{0x8E, 0x8E, 0x93};

struct ColorRow {
    std::vector<double> pounds;
    std::vector<double> otherUnits;
    std::string_view dark;
    std::string_view light;
};

using ColorTable = std::vector<std::pair<double, PlateColor>>;

struct ColorTables {
    ColorTable pounds;
    ColorTable otherUnits;
};

const ColorTables& colorTables() {
    static const ColorTables tables = [] {
        const std::array<ColorRow, 5> rows{{
            {{55}, {25}, "#FF7F7F", "#FF4949"},
            {{45}, {20}, "#009EEB", "#1FB6FF"},
            {{35}, {15}, "#F8B700", "#FFD55F"},
            {{25}, {10}, "#0F9F4F", "#29EB7F"},
            {{10, 5, 2.5, 1.25, 1, 0.5}, {5, 2.5, 1.25, 1, 0.5, 0.25}, "#3C4858", "#8492A6"},
        }};
        ColorTables built;
        for (const auto& row : rows) {
            const PlateColor color{fromHex(row.dark), fromHex(row.light)};
            for (double weight : row.pounds) {
                built.pounds.emplace_back(weight, color);
            }
            for (double weight : row.otherUnits) {
                built.otherUnits.emplace_back(weight, color);
            }
        }
        return built;
    }();
    return tables;
}

} // namespace

std::vector<model::Plate> computePlates(double targetWeight, double barWeight,
                                        std::span<const model::Plate> plates,
                                        std::int64_t plateMultiplier) {
    // The counts are divided and rounded by the multiplier; one below 1 never gets that far.
    const std::int64_t sides = plateMultiplier >= 1 ? plateMultiplier : fallbackPlateMultiplier;
    std::vector<model::Plate> loadedPlates;
    if (!std::isfinite(targetWeight) || !std::isfinite(barWeight) || targetWeight < barWeight) {
        return loadedPlates;
    }
    std::vector<const model::Plate*> heaviestFirst;
    heaviestFirst.reserve(plates.size());
    for (const auto& plate : plates) {
        heaviestFirst.push_back(&plate);
    }
    std::stable_sort(heaviestFirst.begin(), heaviestFirst.end(),
                     [](const model::Plate* a, const model::Plate* b) {
                         return a->plateWeight > b->plateWeight;
                     });

    double loaded = barWeight;
    for (const auto* plate : heaviestFirst) {
        const double weight = plate->plateWeight;
        if (!std::isfinite(weight) || weight <= 0) {
            continue;
        }
        const bool unlimited = plate->quantity == 0;
        // Rounded down to whole plates per side. A limited plate left with none (one plate of a
        // pair, or a negative quantity) is not used; only 0 means no limit.
        const std::int64_t usable = plate->quantity - plate->quantity % sides;
        if (loaded >= targetWeight || (!unlimited && usable < sides) ||
            weight > targetWeight - loaded) {
            continue;
        }
        const double fit = std::floor((targetWeight - loaded) / weight);
        std::int64_t count = static_cast<std::int64_t>(std::min(fit, countCap));
        count -= count % sides;
        if (!unlimited) {
            count = std::min(count, usable);
        }
        // The division may round up by one plate; never go past the target.
        while (count > 0 && loaded + weight * static_cast<double>(count) > targetWeight) {
            count -= sides;
        }
        if (count >= 1) {
            model::Plate used = *plate;
            used.quantity = count;
            loadedPlates.push_back(std::move(used));
            loaded += weight * static_cast<double>(count);
        }
    }
    return loadedPlates;
}

PlateColor plateColor(std::string_view units, double weight) {
    const auto& tables = colorTables();
    const auto& table = units == "lb" ? tables.pounds : tables.otherUnits;
    for (const auto& [tableWeight, color] : table) {
        if (tableWeight == weight) {
            return color;
        }
    }
    return {standardGrey, standardGrey};
}

std::vector<PlateRow> plateRows(std::span<const model::Plate> plates) {
    std::vector<PlateRow> rows;
    rows.reserve(plates.size());
    for (const auto& plate : plates) {
        char weightText[64];
        std::snprintf(weightText, sizeof weightText, "%g", plate.plateWeight);
        const std::int64_t perSide = plate.quantity / 2;
        rows.push_back(PlateRow{plate.id, plateColor(plate.units, plate.plateWeight), weightText,
                                perSide, "x" + std::to_string(perSide)});
    }
    return rows;
}

} // namespace timer

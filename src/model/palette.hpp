#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace model {

// The colours a screen may give an exercise. `secondary` is the platform's secondary colour,
// used for an exercise outside any superset.
enum class PaletteColor { green, yellow, red, purple, pink, blue, secondary };

struct Rgb {
    std::uint8_t red;
    std::uint8_t green;
    std::uint8_t blue;
    bool operator==(const Rgb&) const = default;
};

// The superset palette, in the order superset numbers index it.
inline constexpr std::array<PaletteColor, 6> supersetPalette{
    PaletteColor::green,  PaletteColor::yellow, PaletteColor::red,
    PaletteColor::purple, PaletteColor::pink,   PaletteColor::blue};

// Superset n shows palette entry n modulo 6. Negative numbers (the phone never sends them) use
// the floored remainder, so they still land in the palette and members of one group still share
// a colour: -1 is blue, -6 green.
PaletteColor supersetColor(std::optional<std::int64_t> superset);

std::string_view colorName(PaletteColor color);
// The watch's system colours, for screens that draw them.
Rgb rgb(PaletteColor color);

} // namespace model

#include "model/palette.hpp"

namespace model {

PaletteColor supersetColor(std::optional<std::int64_t> superset) {
    if (!superset) {
        return PaletteColor::secondary;
    }
    constexpr auto count = static_cast<std::int64_t>(supersetPalette.size());
    auto index = *superset % count;
    if (index < 0) {
        index += count;
    }
    return supersetPalette[static_cast<std::size_t>(index)];
}

std::string_view colorName(PaletteColor color) {
    switch (color) {
    case PaletteColor::green:
        return "green";
    case PaletteColor::yellow:
        return "yellow";
    case PaletteColor::red:
        return "red";
    case PaletteColor::purple:
        return "purple";
    case PaletteColor::pink:
        return "pink";
    case PaletteColor::blue:
        return "blue";
    case PaletteColor::secondary:
        return "secondary";
    }
    return "secondary";
}

Rgb rgb(PaletteColor color) {
    switch (color) {
    case PaletteColor::green:
        return {0x30, 0xD1, 0x58};
    case PaletteColor::yellow:
        return {0xFF, 0xD6, 0x0A};
    case PaletteColor::red:
        return {0xFF, 0x45, 0x3A};
    case PaletteColor::purple:
        return {0xBF, 0x5A, 0xF2};
    case PaletteColor::pink:
        return {0xFF, 0x37, 0x5F};
    case PaletteColor::blue:
        return {0x0A, 0x84, 0xFF};
    case PaletteColor::secondary:
        return {0x8E, 0x8E, 0x93};
    }
    return {0x8E, 0x8E, 0x93};
}

} // namespace model

#pragma once

#include <string_view>

namespace screens {

// An sRGB colour with channels from 0 to 1.
struct RgbaColor {
    double red = 0;
    double green = 0;
    double blue = 0;
    double alpha = 1;

    bool operator==(const RgbaColor&) const = default;
};

// A band's colour text: its alphanumeric characters as hexadecimal, AARRGGBB, RRGGBB or RGB
// (each digit doubled); anything else, including letters that are not hexadecimal digits, is
// opaque black.
RgbaColor parseBandColor(std::string_view text);

} // namespace screens

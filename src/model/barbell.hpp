#pragma once

#include <string>
#include <string_view>

namespace model {

// The bar that plates are loaded on.
struct Barbell {
    std::string name;
    double weight = 0;
    std::string units;

    bool operator==(const Barbell&) const = default;
};

inline constexpr std::string_view defaultBarbellName = "Olympic Bar";

// The bar an exercise gets when the phone sends none it can use: 45 in pounds ("lb" exactly),
// 20 in any other unit.
Barbell defaultBarbell(std::string_view weightUnits);

} // namespace model

#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace model {

// One kind of plate in the user's inventory.
struct Plate {
    std::string id;
    std::string units;
    double plateWeight = 0;
    // How many the user owns; 0 means no limit.
    std::int64_t quantity = 0;

    bool operator==(const Plate&) const = default;
};

inline std::string_view itemId(const Plate& plate) {
    return plate.id;
}

} // namespace model

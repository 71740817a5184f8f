#pragma once

#include "model/plate.hpp"
#include "platform/values/value.hpp"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace timer {

// The plate inventory's stored form: a JSON array of {"id", "units", "plateWeight",
// "quantity"}. Nothing when a weight is not finite.
std::optional<platform::Data> encodePlateInventory(const std::vector<model::Plate>& plates);

// Nothing unless the bytes are a JSON array whose every element carries all four keys with the
// right types: one damaged plate makes the inventory unreadable rather than silently shorter.
std::optional<std::vector<model::Plate>> decodePlateInventory(std::span<const std::uint8_t> bytes);

} // namespace timer

#pragma once

// The phone's JSON for the widget and the live activity, decoded strictly: a required key that is
// missing or holds the wrong type fails the whole value, extra keys are ignored, and no input
// bytes make a decoder throw or crash.

#include "glanceside/types.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace glanceside {

std::optional<WidgetData> decodeWidgetData(std::string_view json);

std::optional<WorkoutActivityAttributes> decodeAttributes(std::string_view json);
std::string encodeAttributes(const WorkoutActivityAttributes& attributes);

// Dates are seconds since 2001-01-01, ranges their two bounds as a two-element array; an absent
// optional is left out when encoding.
std::optional<WorkoutActivityAttributes::ContentState> decodeContentState(std::string_view json);
std::string encodeContentState(const WorkoutActivityAttributes::ContentState& state);

} // namespace glanceside

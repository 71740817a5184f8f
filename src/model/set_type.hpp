#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace model {

// The kinds of set, exchanged as their raw strings.
enum class SetType { warmup, regular, drop, pr, joker, restPause, myoReps, failed };

// Exact and case-sensitive: any other text is not a set kind.
std::optional<SetType> setTypeFromText(std::string_view text);
std::string_view toText(SetType type);

// One set kind as the picker shows it.
struct SetTypeInfo {
    SetType type;
    std::string_view name;
    std::string_view description;
    std::string_view initials;
    std::string_view setNumber;
};

// The kinds the user may choose between, in display order; myo-reps sets come only from the
// phone and are never offered.
const std::array<SetTypeInfo, 7>& setTypeInfos();

} // namespace model

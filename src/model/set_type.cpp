#include "model/set_type.hpp"

namespace model {

namespace {

constexpr std::array<std::pair<SetType, std::string_view>, 8> rawStrings{{
    {SetType::warmup, "warmup"},
    {SetType::regular, "regular"},
    {SetType::drop, "drop"},
    {SetType::pr, "pr"},
    {SetType::joker, "joker"},
    {SetType::restPause, "restPause"},
    {SetType::myoReps, "myoReps"},
    {SetType::failed, "failed"},
}};

constexpr std::array<SetTypeInfo, 7> infos{{
    {SetType::warmup, "Warm up",
     "Warm up sets are to used to prepare for heavier weights. Warm up sets are not included in "
     "volume metrics or record calculations.",
     "W", "W"},
    {SetType::regular, "Regular", "Your typical working set.", "#", "#"},
    {SetType::drop, "Drop",
     "Drops sets are typically used after you reach muscular failure. Lower the weight and "
     "complete additional reps without resting.",
     "D", "D"},
    {SetType::pr, "Personal Record (AMRAP)",
     "Perform as many reps as possible. The app will show you how many reps you need to hit a "
     "new record.",
     "PR", "P"},
    {SetType::joker, "Joker",
     "Increase the top set weight by 5-10% and see how many reps you can complete.", "J", "J"},
    {SetType::restPause, "Rest Pause",
     "3 sets in 1. Perform as many reps as possible, rest briefly (20-30 seconds), then perform "
     "as many reps as possible, rest briefly again, and then perform as many reps as possible "
     "for the last set.",
     "RP", "R"},
    {SetType::failed, "Failed",
     "If you didn't complete the prescribed number of sets you can mark it as failed.", "F", "F"},
}};

} // namespace

std::optional<SetType> setTypeFromText(std::string_view text) {
    for (const auto& [type, raw] : rawStrings) {
        if (raw == text) {
            return type;
        }
    }
    return std::nullopt;
}

std::string_view toText(SetType type) {
    for (const auto& [candidate, raw] : rawStrings) {
        if (candidate == type) {
            return raw;
        }
    }
    return "regular";
}

const std::array<SetTypeInfo, 7>& setTypeInfos() {
    return infos;
}

} // namespace model

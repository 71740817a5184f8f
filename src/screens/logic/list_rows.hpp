#pragma once

#include "model/exercise.hpp"

#include <optional>
#include <string>
#include <vector>

namespace screens {

// What an exercise row of the in-progress list reads: a named exercise with its progress, or,
// for a placeholder the phone sent without a name, a prompt to pick one.
struct ExerciseRowLabel {
    std::string title;
    // The second line: progress for a named exercise, the recommendation for a placeholder.
    std::optional<std::string> detail;
    // A placeholder's title is drawn in the accent colour and its row opens the picker.
    bool placeholder = false;

    bool operator==(const ExerciseRowLabel&) const = default;
};

ExerciseRowLabel exerciseRowLabel(const model::Exercise& exercise);

// The metrics header's two numbers, as shown: heart rate in beats per minute and active energy
// in kilocalories, each rounded to a whole number.
struct MetricsHeader {
    std::string heartRate;
    std::string energy;

    bool operator==(const MetricsHeader&) const = default;
};

MetricsHeader metricsHeader(double lastHeartRate, double totalEnergyBurned);

bool isSetDone(const model::ExerciseSet& set);
// Index of the exercise's first set not done; none when every set is.
std::optional<int> firstOpenSet(const model::Exercise& exercise);
bool anySetDone(const std::vector<model::ExerciseRef>& exercises);

// The list's rows: by sequence, equal sequences in the order received.
std::vector<model::ExerciseRef> exerciseListOrder(std::vector<model::ExerciseRef> exercises);

// "Finish Workout" once any set is done, "Cancel Workout" before.
std::string finishButtonLabel(const std::vector<model::ExerciseRef>& exercises);

} // namespace screens

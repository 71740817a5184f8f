#pragma once

#include "model/exercise.hpp"

#include <string>
#include <vector>

namespace model {

// A workout the user can start; its exercises are shared references like the current workout's.
struct Workout {
    std::string id;
    std::string name;
    std::string week;
    std::string status;
    std::vector<ExerciseRef> exercises;
};

inline std::string_view itemId(const Workout& workout) {
    return workout.id;
}

} // namespace model

#pragma once

#include "model/reference_exercise.hpp"

#include <string>
#include <vector>

namespace screens {

// The exercise picker's two sections over the catalogue, in the catalogue's order.
struct PickerSections {
    std::vector<model::ReferenceExerciseRef> recent;
    std::vector<model::ReferenceExerciseRef> all;
};

PickerSections pickerSections(const std::vector<model::ReferenceExerciseRef>& catalogue);

} // namespace screens

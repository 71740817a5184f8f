#include "screens/logic/exercise_picker.hpp"

namespace screens {

PickerSections pickerSections(const std::vector<model::ReferenceExerciseRef>& catalogue) {
    PickerSections sections{{}, catalogue};
    for (const auto& entry : catalogue) {
        if (entry->isRecent) {
            sections.recent.push_back(entry);
        }
    }
    return sections;
}

} // namespace screens

#include "screens/logic/workout_pager.hpp"

#include "model/status.hpp"

namespace screens {

WorkoutCard workoutCard(const model::Workout& workout) {
    WorkoutCard card{workout.id,
                     "Week " + workout.week + " - " + workout.name,
                     {},
                     workout.status == model::status::complete};
    for (const auto& exercise : workout.exercises) {
        card.exerciseNames.push_back(exercise->name);
    }
    return card;
}

} // namespace screens

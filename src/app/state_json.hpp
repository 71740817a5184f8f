#pragma once

#include "model/exercise.hpp"
#include "model/plate.hpp"
#include "platform/values/value.hpp"
#include "screens/logic/sync_health.hpp"
#include "session/workout_manager.hpp"
#include "timer/rest_timer_manager.hpp"

// The watch's records in the form the headless control channel reports them: fields by their own
// names, absent optionals as null.
namespace app {

platform::Value exerciseSetState(const model::ExerciseSet& set);
platform::Value exerciseState(const model::Exercise& exercise);
platform::Value plateState(const model::Plate& plate);
platform::Value plateListState(const std::vector<model::Plate>& plates);
// The pending timer event shows as its sync id.
platform::Value timerState(const timer::RestTimerManager& timer);
platform::Value workoutSessionState(const session::WorkoutManager& manager);
// The waiting changes in outbox order; times as milliseconds since 1970.
platform::Value syncHealthState(const screens::SyncHealthFacts& facts);

} // namespace app

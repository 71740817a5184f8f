#pragma once

#include "model/exercise.hpp"
#include "platform/values/value.hpp"

// The watch's records in the form the headless control channel reports them: fields by their own
// names, absent optionals as null.
namespace app {

platform::Value exerciseSetState(const model::ExerciseSet& set);
platform::Value exerciseState(const model::Exercise& exercise);

} // namespace app

#pragma once

// The watch program on the simulated link, driven through the control channel's actions as the
// headless program is, and the record of a workout that the watch and phone-sim must agree on.
#include "app/headless_control.hpp"
#include "app/watch_core.hpp"
#include "model/decoding.hpp"
#include "platform/link/session_engine.hpp"
#include "platform/link/simulated_link.hpp"
#include "platform/values/json.hpp"

#include <cmath>
#include <string>
#include <vector>

namespace simsupport {

using platform::Array;
using platform::Dictionary;
using platform::Value;

// The watch program on the simulated link, driven like the headless program.
struct Watch {
    platform::SessionEngine session;
    app::WatchCore core;
    app::HeadlessControl control;
    std::vector<std::string> answers;

    Watch(platform::ManualExecutor& executor, platform::SimulatedLink& link,
          platform::KeyValueStore& defaults, platform::KeyValueStore& platformStore,
          platform::FileSystem& files, platform::Log& log)
        : session(platform::LinkRole::watch, link.attach(platform::LinkRole::watch),
                  {executor, platformStore, files, log}),
          core(app::WatchEnvironment{executor,
                                     defaults,
                                     files,
                                     session,
                                     log,
                                     {},
                                     true,
                                     platform::SimulatedNotificationAnswer::allow}),
          control(app::HeadlessControl::Wiring{
              executor, core.data(), core.outbox(), core.restTimer(), core.workoutManager(),
              core.mainScreen(), core.notificationCenter(),
              [this](std::string_view line) { answers.emplace_back(line); }, [] {}, nullptr,
              &core.syncHealth()}) {
        core.becameActive();
    }

    void act(const Dictionary& action) { control.handleLine(platform::toJsonText(Value(action))); }
};

// What both sides must agree on, set by set; labels and rest times are the watch's own.
inline Array record(const std::vector<model::ExerciseRef>& exercises) {
    Array list;
    for (const auto& exercise : exercises) {
        Array sets;
        for (const auto& set : exercise->exerciseSets.get()) {
            auto completed = set->dateCompleted.get();
            sets.push_back(Dictionary{
                {"id", set->id.get()},
                {"status", set->status.get()},
                {"reps", set->reps.get()},
                {"weight", set->weight.get()},
                {"type", std::string(model::toText(set->type.get()))},
                {"duration", set->duration.get() ? Value(*set->duration.get()) : Value()},
                {"dateCompleted",
                 completed ? Value(std::floor(completed->sinceReferenceDate)) : Value()}});
        }
        list.push_back(Dictionary{{"id", exercise->id}, {"sets", std::move(sets)}});
    }
    return list;
}

inline Array phoneRecord(const Array& exercises) {
    std::vector<model::ExerciseRef> decoded;
    std::int64_t index = 0;
    for (const auto& exercise : exercises) {
        decoded.push_back(model::decodeExercise(*exercise.dictionary(), index++));
    }
    return record(decoded);
}

} // namespace simsupport

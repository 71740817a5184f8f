#pragma once

#include "model/exercise.hpp"
#include "model/status.hpp"
#include "platform/exec/manual_executor.hpp"
#include "platform/log/log.hpp"
#include "platform/store/memory_key_value_store.hpp"
#include "platform/values/bplist.hpp"
#include "support/fake_session.hpp"
#include "sync/outbound/watch_sync_outbox.hpp"
#include "timer/rest_timer_manager.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace screentest {

// A set with reps and weight, as the phone sends them.
inline model::ExerciseSetRef makeSet(std::string id, std::string setNumber,
                                     std::string_view status = model::status::notStarted) {
    auto set = std::make_shared<model::ExerciseSet>();
    set->id = std::move(id);
    set->setNumber = std::move(setNumber);
    set->status = std::string(status);
    set->reps = "5";
    set->weight = "225";
    return set;
}

inline model::ExerciseRef makeExercise(std::vector<model::ExerciseSetRef> sets) {
    auto exercise = std::make_shared<model::Exercise>();
    exercise->id = "E-1";
    exercise->name = "Squat";
    exercise->exerciseSets = std::move(sets);
    return exercise;
}

// The watch's outbox and rest timer on virtual time, and a way to build an exercise.
class ScreenFixture : public ::testing::Test {
protected:
    platform::ManualExecutor exec;
    platform::MemoryKeyValueStore store;
    platform::MemoryLog log;
    testsupport::FakeSession session{exec.main()};
    watchsync::WatchSyncOutbox outbox{exec, session, store, log};
    timer::RestTimerManager restTimer{exec, store, outbox, log};

    model::EditEventSink editEvents() {
        return [this](platform::Dictionary message) { outbox.enqueue(message); };
    }

    // The events queued for the phone, oldest first, as (type, payload).
    struct Event {
        std::string type;
        platform::Dictionary payload;
    };
    std::vector<Event> events() {
        std::vector<Event> result;
        for (const auto& pending : outbox.pendingMessages()) {
            const auto value = platform::decodeBinaryPlist(pending.payload);
            const auto* message = value ? value->dictionary() : nullptr;
            if (message == nullptr) {
                ADD_FAILURE() << "undecodable outbox message";
                continue;
            }
            const auto* type = value->find("type");
            const auto* payload = value->find("payload");
            result.push_back({type && type->string() ? *type->string() : std::string(),
                              payload && payload->dictionary() ? *payload->dictionary()
                                                               : platform::Dictionary{}});
        }
        return result;
    }
};

} // namespace screentest

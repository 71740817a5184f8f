#pragma once

// The root screen over the whole watch core on virtual time, and workouts to load into it.
#include "app/watch_core.hpp"
#include "platform/exec/manual_executor.hpp"
#include "platform/files/file_system.hpp"
#include "platform/log/log.hpp"
#include "platform/store/memory_key_value_store.hpp"
#include "platform/values/bplist.hpp"
#include "support/fake_session.hpp"

#include <gtest/gtest.h>

#include <chrono>

namespace mainscreentest {

using namespace std::chrono_literals;
using platform::Array;
using platform::Dictionary;

inline Dictionary set(std::string id, std::string status = "NOT_STARTED") {
    return {{"id", std::move(id)},
            {"status", std::move(status)},
            {"reps", "5"},
            {"weight", "95"},
            {"timerSeconds", 90}};
}

inline Dictionary exercise(std::string id, std::int64_t sequence, Array sets,
                           std::optional<std::int64_t> superset = std::nullopt) {
    Dictionary e{{"id", id},
                 {"name", "Exercise " + id},
                 {"status", "NOT_STARTED"},
                 {"sequence", sequence},
                 {"isWeight", true},
                 {"exerciseSets", std::move(sets)}};
    if (superset) {
        e.insert_or_assign("superset", *superset);
    }
    return e;
}

class MainScreenTest : public ::testing::Test {
protected:
    platform::ManualExecutor executor;
    platform::MemoryKeyValueStore defaults;
    platform::MemoryFileSystem files;
    platform::MemoryLog log;
    testsupport::FakeSession session{executor.main()};
    // The platform's own store: the notification center's requests outlive the program there.
    platform::MemoryKeyValueStore platformStore;
    std::optional<app::WatchCore> core;

    // Builds the core as the program does at launch, over whatever the stores hold now.
    void launch(
        platform::SimulatedNotificationAnswer answer = platform::SimulatedNotificationAnswer::allow,
        screens::NumberLocale locale = {}) {
        core.reset();
        core.emplace(app::WatchEnvironment{executor,
                                           defaults,
                                           files,
                                           session,
                                           log,
                                           {},
                                           true,
                                           answer,
                                           &platformStore,
                                           std::move(locale)});
        core->becameActive();
        executor.runUntilIdle();
    }

    void SetUp() override { launch(); }

    void load(Array exercises, std::string status = "IN_PROGRESS", std::string id = "w1") {
        core->data().dispatchInbound(
            Dictionary{{"workout", Dictionary{{"id", id}, {"name", "A"}, {"status", status}}},
                       {"exercises", std::move(exercises)}},
            std::nullopt);
        executor.runUntilIdle();
    }

    // The phone's message with any of the given keys; revisions grow with each call.
    void send(Dictionary message) {
        core->data().dispatchInbound(std::move(message), std::nullopt);
        executor.runUntilIdle();
    }

    // The types of the messages waiting for the phone, oldest first.
    std::vector<std::string> sentTypes() {
        std::vector<std::string> types;
        for (const auto& pending : core->outbox().pendingMessages()) {
            auto message = platform::decodeBinaryPlist(pending.payload);
            const auto* type = message ? message->find("type") : nullptr;
            types.push_back(type != nullptr && type->string() != nullptr ? *type->string() : "?");
        }
        return types;
    }

    // The payload of the newest waiting message of that type.
    Dictionary lastPayload(std::string_view type) {
        Dictionary found;
        for (const auto& pending : core->outbox().pendingMessages()) {
            auto message = platform::decodeBinaryPlist(pending.payload);
            const auto* kind = message ? message->find("type") : nullptr;
            const auto* payload = message ? message->find("payload") : nullptr;
            if (kind != nullptr && kind->string() != nullptr && *kind->string() == type &&
                payload != nullptr && payload->dictionary() != nullptr) {
                found = *payload->dictionary();
            }
        }
        return found;
    }

    model::ExerciseRef find(std::string_view id) {
        for (const auto& e : core->data().exercises.get()) {
            if (e->id == id) {
                return e;
            }
        }
        return nullptr;
    }

    screens::MainScreen& screen() { return core->mainScreen(); }
    const std::string& preview() { return core->restTimer().nextSetExercise.get(); }
};

} // namespace mainscreentest

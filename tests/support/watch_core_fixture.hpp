#pragma once

// The watch's core built as the program builds it, on virtual time, over stores that outlive it.
#include "app/watch_core.hpp"
#include "platform/exec/manual_executor.hpp"
#include "platform/files/file_system.hpp"
#include "platform/log/log.hpp"
#include "platform/store/memory_key_value_store.hpp"
#include "support/fake_session.hpp"
#include "support/outbox_messages.hpp"

#include <gtest/gtest.h>

#include <optional>

namespace testsupport {

class WatchCoreTest : public ::testing::Test {
protected:
    platform::ManualExecutor executor;
    platform::MemoryKeyValueStore defaults;
    platform::MemoryFileSystem files;
    platform::MemoryLog log;
    FakeSession session{executor.main()};
    // The platform's own store: pending notifications outlive the program there.
    platform::MemoryKeyValueStore platformStore;
    std::optional<app::WatchCore> core;

    // A launch of the program over whatever the stores hold now.
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

    // Hands the phone's dictionary to the hub and gives its one reply.
    platform::Dictionary dispatch(platform::Dictionary message) {
        std::vector<platform::Dictionary> replies;
        core->data().dispatchInbound(std::move(message),
                                     [&](platform::Dictionary reply) { replies.push_back(reply); });
        executor.runUntilIdle();
        EXPECT_EQ(replies.size(), 1u);
        return replies.empty() ? platform::Dictionary{} : replies.front();
    }

    watchsync::WatchDataSource& data() { return core->data(); }
    timer::RestTimerManager& restTimer() { return core->restTimer(); }
    session::WorkoutManager& workoutManager() { return core->workoutManager(); }
    std::vector<std::string> sentTypes() { return testsupport::sentTypes(core->outbox()); }
    platform::Date now() const { return platform::toDate(executor.now()); }
};

} // namespace testsupport

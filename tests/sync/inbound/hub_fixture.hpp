#pragma once

#include "platform/exec/manual_executor.hpp"
#include "platform/files/file_system.hpp"
#include "platform/log/log.hpp"
#include "platform/store/memory_key_value_store.hpp"
#include "support/fake_session.hpp"
#include "support/outbox_messages.hpp"
#include "sync/inbound/watch_data_source.hpp"
#include "sync/outbound/watch_sync_outbox.hpp"

#include <gtest/gtest.h>

namespace hubtest {

using platform::Dictionary;
using platform::Value;
using watchsync::WatchDataSource;

// The sync hub alone on the manual executor, with a fake session and the real outbox.
class Hub : public ::testing::Test {
protected:
    platform::ManualExecutor executor;
    platform::MemoryKeyValueStore defaults;
    platform::MemoryLog log;
    platform::MemoryFileSystem files;
    testsupport::FakeSession session{executor.main()};
    std::optional<watchsync::WatchSyncOutbox> outbox;
    std::optional<WatchDataSource> data;

    void start() {
        data.reset();
        outbox.emplace(executor, session, defaults, log);
        data.emplace(WatchDataSource::Services{executor, defaults, files, &session, *outbox, log});
    }

    void SetUp() override { start(); }

    std::vector<std::string> queuedTypes() { return testsupport::sentTypes(*outbox); }

    // The one reply to the dictionary.
    Dictionary dispatch(Dictionary message) {
        std::vector<Dictionary> replies;
        data->dispatchInbound(std::move(message),
                              [&](Dictionary reply) { replies.push_back(reply); });
        executor.runUntilIdle();
        EXPECT_EQ(replies.size(), 1u);
        return replies.empty() ? Dictionary{} : replies.front();
    }
};

} // namespace hubtest

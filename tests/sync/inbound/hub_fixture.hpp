#pragma once

#include "platform/exec/manual_executor.hpp"
#include "platform/files/file_system.hpp"
#include "platform/log/log.hpp"
#include "platform/store/memory_key_value_store.hpp"
#include "platform/values/bplist.hpp"
#include "support/fake_session.hpp"
#include "sync/inbound/watch_data_source.hpp"
#include "sync/outbound/watch_sync_outbox.hpp"

#include <gtest/gtest.h>

namespace hubtest {

using platform::Dictionary;
using platform::Value;
using watchsync::WatchDataSource;

struct Replies {
    std::vector<Dictionary> received;
    WatchDataSource::ReplyFunction function() {
        return [this](Dictionary reply) { received.push_back(std::move(reply)); };
    }
};

// The sync hub on the manual executor, with a fake session and the real outbox.
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
        outbox.emplace(executor, session, defaults, log);
        data.emplace(WatchDataSource::Services{executor, defaults, files, &session, *outbox, log});
    }

    void SetUp() override { start(); }

    std::vector<std::string> queuedTypes() {
        std::vector<std::string> types;
        for (const auto& pending : outbox->pendingMessages()) {
            auto message = platform::decodeBinaryPlist(pending.payload);
            types.push_back(*message->find("type")->string());
        }
        return types;
    }

    Dictionary dispatch(Dictionary message) {
        Replies replies;
        data->dispatchInbound(std::move(message), replies.function());
        executor.runUntilIdle();
        EXPECT_EQ(replies.received.size(), 1u);
        return replies.received.empty() ? Dictionary{} : replies.received.front();
    }
};

} // namespace hubtest

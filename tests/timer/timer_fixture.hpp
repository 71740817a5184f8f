#pragma once

// The rest timer over its outbox on virtual time, relaunched over a store that outlives it,
// with a record of what reaches the store under its key and of its alerts.
#include "platform/exec/manual_executor.hpp"
#include "platform/log/log.hpp"
#include "platform/store/memory_key_value_store.hpp"
#include "support/fake_session.hpp"
#include "support/forwarding_store.hpp"
#include "support/outbox_messages.hpp"
#include "timer/rest_timer_manager.hpp"

#include <gtest/gtest.h>

namespace timertest {

using platform::Data;
using platform::Date;
using platform::Dictionary;
using platform::Value;
using timer::RestTimerManager;

inline constexpr std::string_view sessionKey = "tessaron.rest-timer-session.v1";

// Every write under the timer key (nothing: a removal); lost while `loseWrites` is set, as
// writes are when the process dies before they land.
class TimerStore final : public testsupport::ForwardingStore {
public:
    TimerStore() : ForwardingStore(backing) {}
    platform::MemoryKeyValueStore backing;
    std::vector<std::optional<Data>> writes;
    bool loseWrites = false;

    void setData(std::string_view key, const Data& value) override {
        if (!watched(key, value)) {
            inner_.setData(key, value);
        }
    }
    void removeObject(std::string_view key) override {
        if (!watched(key, std::nullopt)) {
            inner_.removeObject(key);
        }
    }

private:
    bool watched(std::string_view key, std::optional<Data> value) {
        if (key != sessionKey) {
            return false;
        }
        writes.push_back(std::move(value));
        return loseWrites;
    }
};

struct Alerts final : timer::TimerAlerts {
    std::vector<std::string> calls;
    void scheduleRestTimerNotification(double seconds, bool countdown) override {
        calls.push_back("schedule " + std::to_string(static_cast<long long>(seconds)) +
                        (countdown ? " countdown" : " rest"));
    }
    void cancelRestTimerNotifications() override { calls.push_back("cancel"); }
    std::string last() const { return calls.empty() ? "" : calls.back(); }
};

class TimerTest : public ::testing::Test {
protected:
    platform::ManualExecutor executor;
    TimerStore store;
    platform::MemoryLog log;
    testsupport::FakeSession session{executor.main()};
    Alerts alerts;
    std::optional<watchsync::WatchSyncOutbox> outbox{std::in_place, executor, session, store, log};
    std::optional<RestTimerManager> timer{std::in_place, executor, store, *outbox, log};

    TimerTest() { timer->setAlerts(&alerts); }

    // A new process on the same store.
    void relaunch() {
        timer.reset();
        outbox.emplace(executor, session, store, log);
        timer.emplace(executor, store, *outbox, log);
        timer->setAlerts(&alerts);
        store.writes.clear();
    }

    std::optional<timer::PersistedRestTimerSession> stored() const {
        auto bytes = store.backing.dataForKey(sessionKey);
        return bytes ? timer::decodeTimerSession(*bytes) : std::nullopt;
    }

    void storeSession(const timer::PersistedRestTimerSession& record) {
        store.backing.setData(sessionKey, *timer::encodeTimerSession(record));
    }

    // Type and payload of every queued message, oldest first.
    std::vector<Dictionary> queued() {
        std::vector<Dictionary> result;
        for (const auto& m : testsupport::sentMessages(*outbox)) {
            result.push_back(testsupport::message(m.type, m.payload));
        }
        return result;
    }

    double ms(Date date) const { return date.unixMillis(); }
};

} // namespace timertest

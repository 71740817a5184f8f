// The engines on real threads (the system executor's queues), for races and for stopping
// cleanly while traffic flows. Nothing here depends on timing: the test waits for conditions.

#include "platform/exec/system_executor.hpp"
#include "platform/files/file_system.hpp"
#include "platform/link/session_engine.hpp"
#include "platform/link/simulated_link.hpp"
#include "platform/log/log.hpp"
#include "platform/store/memory_key_value_store.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

using namespace std::chrono_literals;
using platform::Dictionary;
using platform::LinkRole;
using platform::SessionEngine;

namespace {

class ThreadSafeDelegate final : public platform::SessionDelegate {
public:
    // True once `condition` holds; gives up after a generous bound so that a broken run ends.
    template <class F> bool waitFor(F condition) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 30s, [&] { return condition(*this); });
    }

    bool reachable = false;
    std::vector<std::int64_t> userInfos;
    int replies = 0;
    int finished = 0;
    std::int64_t newestContext = -1;

    void activationDidComplete(platform::ActivationState,
                               std::optional<platform::SessionError>) override {}
    void reachabilityDidChange(bool r) override {
        update([&] { reachable = r; });
    }
    void didReceiveMessage(const Dictionary& message,
                           std::optional<platform::ReplyHandler> reply) override {
        if (reply) {
            (*reply)(message);
        }
    }
    void didReceiveUserInfo(const Dictionary& userInfo) override {
        update([&] { userInfos.push_back(*userInfo.at("n").integer()); });
    }
    void didReceiveApplicationContext(const Dictionary& context) override {
        update([&] { newestContext = *context.at("v").integer(); });
    }
    void didFinishUserInfoTransfer(const platform::UserInfoTransfer&,
                                   std::optional<platform::SessionError>) override {
        update([&] { ++finished; });
    }
    void didReceiveFile(const platform::ReceivedFile&) override {}

    void countReply() {
        update([&] { ++replies; });
    }

private:
    template <class F> void update(F f) {
        {
            std::lock_guard lock(mutex_);
            f();
        }
        changed_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable changed_;
};

TEST(SessionEngineThreadsTest, TrafficFromManyThreadsArrivesAndTheEnginesStopWhileItFlows) {
    platform::SystemExecutor exec;
    platform::SimulatedLink link(exec, {}, 1);
    platform::MemoryLog log;
    platform::MemoryKeyValueStore watchStore;
    platform::MemoryKeyValueStore phoneStore;
    platform::MemoryFileSystem files;
    ThreadSafeDelegate watchDelegate;
    ThreadSafeDelegate phoneDelegate;
    auto watch = std::make_unique<SessionEngine>(
        LinkRole::watch, link.attach(LinkRole::watch),
        platform::SessionEngineServices{exec, watchStore, files, log});
    auto phone = std::make_unique<SessionEngine>(
        LinkRole::phone, link.attach(LinkRole::phone),
        platform::SessionEngineServices{exec, phoneStore, files, log});
    watch->setDelegate(&watchDelegate);
    phone->setDelegate(&phoneDelegate);
    watch->activate();
    phone->activate();
    ASSERT_TRUE(watchDelegate.waitFor([](auto& d) { return d.reachable; }));

    constexpr int count = 200;
    auto messages = exec.makeSerialQueue("messages");
    messages->async([&] {
        for (int n = 0; n < count; ++n) {
            watch->sendMessage(
                {{"n", n}}, platform::ReplyHandler([&](Dictionary) { watchDelegate.countReply(); }),
                {});
        }
    });
    for (int n = 0; n < count; ++n) {
        phone->transferUserInfo({{"n", n}});
        phone->updateApplicationContext({{"v", n}});
    }
    ASSERT_TRUE(watchDelegate.waitFor([](auto& d) { return d.userInfos.size() == count; }));
    ASSERT_TRUE(phoneDelegate.waitFor([](auto& d) { return d.finished == count; }));
    ASSERT_TRUE(watchDelegate.waitFor([](auto& d) { return d.replies == count; }));
    for (int n = 0; n < count; ++n) {
        EXPECT_EQ(watchDelegate.userInfos[static_cast<std::size_t>(n)], n);
    }
    ASSERT_TRUE(watchDelegate.waitFor([](auto& d) { return d.newestContext == count - 1; }));
    EXPECT_EQ(watch->receivedApplicationContext(), (Dictionary{{"v", count - 1}}));

    // Stop both while the other side keeps sending.
    messages->async([&] {
        for (int n = 0; n < count; ++n) {
            phone->transferUserInfo({{"n", count + n}});
        }
    });
    watch.reset();
    messages.reset();
    phone.reset();
}

} // namespace

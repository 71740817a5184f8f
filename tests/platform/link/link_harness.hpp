#pragma once

// Test support for the link: a delegate that records what it hears, a transport the test drives
// by hand, and two engines joined by the simulated link on the manual executor.

#include "platform/exec/manual_executor.hpp"
#include "platform/link/session_engine.hpp"
#include "platform/link/simulated_link.hpp"
#include "platform/store/memory_key_value_store.hpp"
#include "support/snapshot_store.hpp"

#include <functional>
#include <memory>

namespace linktest {

using platform::Data;
using platform::Dictionary;
using platform::LinkRole;
using platform::ReplyHandler;
using platform::SessionError;

using Finished = std::pair<std::string, std::optional<SessionError>>;

class RecordingDelegate final : public platform::SessionDelegate {
public:
    // `main` must never be current in a callback.
    explicit RecordingDelegate(platform::Queue& main) : main_(main) {}

    std::vector<Dictionary> messages;
    std::vector<Dictionary> userInfos;
    std::vector<Dictionary> contexts;
    std::vector<Finished> finishedUserInfos;
    std::vector<Dictionary> files; // their metadata
    int callbacksOnMain = 0;
    // What to do with a message; by default its reply handler is dropped.
    std::function<void(const Dictionary&, std::optional<ReplyHandler>)> onMessage;
    std::function<void()> onUserInfo;

    void activationDidComplete(platform::ActivationState, std::optional<SessionError>) override {}
    void reachabilityDidChange(bool) override {}
    void didReceiveMessage(const Dictionary& message, std::optional<ReplyHandler> reply) override {
        note(messages).push_back(message);
        if (onMessage) {
            onMessage(message, std::move(reply));
        }
    }
    void didReceiveUserInfo(const Dictionary& info) override {
        note(userInfos).push_back(info);
        if (onUserInfo) {
            onUserInfo();
        }
    }
    void didReceiveApplicationContext(const Dictionary& context) override {
        note(contexts).push_back(context);
    }
    void didFinishUserInfoTransfer(const platform::UserInfoTransfer& transfer,
                                   std::optional<SessionError> error) override {
        note(finishedUserInfos).emplace_back(transfer.transferId, std::move(error));
    }
    void didReceiveFile(const platform::ReceivedFile& file) override {
        note(files).push_back(file.metadata);
    }

private:
    template <class T> T& note(T& record) {
        callbacksOnMain += main_.isCurrent() ? 1 : 0;
        return record;
    }

    platform::Queue& main_;
};

inline Dictionary phoneHello() {
    return {{"kind", "hello"}, {"role", "phone"}, {"version", 1}, {"reachable", true}};
}
inline Dictionary userInfoFrame(std::string id, Dictionary body) {
    return {{"kind", "userInfo"}, {"id", std::move(id)}, {"body", std::move(body)}};
}
inline Dictionary numbered(std::int64_t n) {
    return {{"n", n}};
}

// A watch engine over a transport the test drives: it records what the engine sends and plays
// the phone's events.
struct ScriptedWatch {
    struct Wire {
        platform::FrameTransport::Events events;
        std::vector<Dictionary> sent;
        int disconnects = 0;

        std::vector<Dictionary> sentOfKind(std::string_view kind) const {
            std::vector<Dictionary> out;
            std::copy_if(sent.begin(), sent.end(), std::back_inserter(out),
                         [&](const auto& e) { return e.at("kind") == platform::Value(kind); });
            return out;
        }
    };
    class Transport final : public platform::FrameTransport {
    public:
        explicit Transport(std::shared_ptr<Wire> wire) : wire_(std::move(wire)) {}
        void start(Events events) override { wire_->events = std::move(events); }
        void send(const Dictionary& envelope) override { wire_->sent.push_back(envelope); }
        void disconnect(const std::string&) override { ++wire_->disconnects; }
        void stop() override {}

    private:
        std::shared_ptr<Wire> wire_;
    };

    ScriptedWatch() { start(); }

    // A new engine on the same store and a fresh wire, as after a restart of the program.
    void start() {
        wire = std::make_shared<Wire>();
        engine.reset();
        engine = std::make_unique<platform::SessionEngine>(
            LinkRole::watch, std::make_unique<Transport>(wire),
            platform::SessionEngineServices{exec, store, files, log});
        engine->setDelegate(&delegate);
        engine->activate();
        exec.runUntilIdle();
    }
    // Plays a connection coming up and the phone's hello.
    void connect() {
        wire->events.connected();
        receive(phoneHello());
    }
    void receive(const Dictionary& envelope) {
        wire->events.frame(envelope);
        exec.runUntilIdle();
    }

    platform::ManualExecutor exec;
    testsupport::SnapshotStore store; // rolled back to play a crash
    platform::MemoryFileSystem files;
    platform::MemoryLog log;
    RecordingDelegate delegate{exec.main()};
    std::shared_ptr<Wire> wire;
    std::unique_ptr<platform::SessionEngine> engine;
};

// Two engines joined by the simulated link on the manual executor. Each side keeps its store,
// files and delegate across restarts, so what the delegate recorded accumulates.
class LinkPair {
public:
    struct Side {
        explicit Side(platform::ManualExecutor& exec) : delegate(exec.main()) {}
        platform::MemoryKeyValueStore store;
        platform::MemoryFileSystem files;
        RecordingDelegate delegate;
        std::unique_ptr<platform::SessionEngine> engine;
    };

    explicit LinkPair(platform::LinkFaults faults = {}, std::uint64_t seed = 1)
        : link(exec, faults, seed) {}

    Side& side(LinkRole role) { return role == LinkRole::watch ? watch : phone; }

    // A new engine for `role` on its store, activated; `forgetQueue` plays a device reset, in
    // which the platform loses its queue of transfers.
    void restart(LinkRole role, bool forgetQueue = false) {
        auto& s = side(role);
        s.engine.reset();
        if (forgetQueue) {
            platform::forgetQueuedTransfers(s.store, role);
        }
        s.engine = std::make_unique<platform::SessionEngine>(
            role, link.attach(role), platform::SessionEngineServices{exec, s.store, s.files, log});
        s.engine->setDelegate(&s.delegate);
        s.engine->activate();
    }
    void startBoth() {
        restart(LinkRole::watch);
        restart(LinkRole::phone);
        exec.runUntilIdle();
    }

    platform::SessionEngine& watchEngine() { return *watch.engine; }
    platform::SessionEngine& phoneEngine() { return *phone.engine; }

    platform::ManualExecutor exec;
    platform::MemoryLog log;
    platform::SimulatedLink link;
    Side watch{exec};
    Side phone{exec};
};

} // namespace linktest

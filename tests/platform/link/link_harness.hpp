#pragma once

// Test support for the link: a delegate that records what it hears, and a watch engine over a
// transport the test drives by hand.

#include "platform/exec/manual_executor.hpp"
#include "platform/link/session_engine.hpp"
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
    explicit RecordingDelegate(platform::Queue& main) : main_(main) {}

    std::vector<Dictionary> messages, userInfos, contexts, files; // files: their metadata
    std::vector<Finished> finishedUserInfos;
    int callbacksOnMain = 0; // the main queue must never be current in a callback
    // What to do with a message; by default its reply handler is dropped.
    std::function<void(const Dictionary&, std::optional<ReplyHandler>)> onMessage;
    std::function<void()> onUserInfo;

    void activationDidComplete(platform::ActivationState, std::optional<SessionError>) override {}
    void reachabilityDidChange(bool) override {}
    void didReceiveMessage(const Dictionary& message, std::optional<ReplyHandler> reply) override {
        note(messages, message);
        if (onMessage) {
            onMessage(message, std::move(reply));
        }
    }
    void didReceiveUserInfo(const Dictionary& info) override {
        note(userInfos, info);
        if (onUserInfo) {
            onUserInfo();
        }
    }
    void didReceiveApplicationContext(const Dictionary& c) override { note(contexts, c); }
    void didFinishUserInfoTransfer(const platform::UserInfoTransfer& transfer,
                                   std::optional<SessionError> error) override {
        note(finishedUserInfos, Finished{transfer.transferId, std::move(error)});
    }
    void didReceiveFile(const platform::ReceivedFile& file) override { note(files, file.metadata); }

private:
    template <class T> void note(std::vector<T>& record, T entry) {
        callbacksOnMain += main_.isCurrent() ? 1 : 0;
        record.push_back(std::move(entry));
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
    struct Transport final : platform::FrameTransport {
        explicit Transport(std::shared_ptr<Wire> w) : wire(std::move(w)) {}
        void start(Events events) override { wire->events = std::move(events); }
        void send(const Dictionary& envelope) override { wire->sent.push_back(envelope); }
        void disconnect(const std::string&) override { ++wire->disconnects; }
        void stop() override {}
        std::shared_ptr<Wire> wire;
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

} // namespace linktest

#pragma once

// Test support for the link: a delegate that records what it hears, a transport the test drives
// by hand, and two engines joined by the simulated link on the manual executor.

#include "platform/exec/manual_executor.hpp"
#include "platform/files/file_system.hpp"
#include "platform/link/session_engine.hpp"
#include "platform/link/simulated_link.hpp"
#include "platform/log/log.hpp"
#include "platform/store/memory_key_value_store.hpp"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace platform {
// GoogleTest's printer hook, so that failures show the error instead of its bytes.
inline void PrintTo(const SessionError& error, std::ostream* out) {
    *out << "SessionError(" << static_cast<int>(error.code) << ", \"" << error.description << "\")";
}
} // namespace platform

namespace linktest {

using platform::ActivationState;
using platform::Data;
using platform::Dictionary;
using platform::LinkRole;
using platform::ReplyHandler;
using platform::SessionError;

using Finished = std::pair<std::string, std::optional<SessionError>>;

class RecordingDelegate final : public platform::SessionDelegate {
public:
    struct ReceivedFile {
        std::filesystem::path path;
        Dictionary metadata;
        std::optional<Data> contentsDuringCallback;
    };

    // `files` is read while a received file exists; `main` must never be current in a callback.
    RecordingDelegate(platform::FileSystem& fileSystem, platform::Queue& main)
        : files_(fileSystem), main_(main) {}

    std::vector<std::pair<ActivationState, std::optional<SessionError>>> activations;
    std::vector<bool> reachability;
    std::vector<Dictionary> messages;
    std::vector<bool> messageHadReplyHandler;
    std::vector<Dictionary> userInfos;
    std::vector<Dictionary> contexts;
    std::vector<Finished> finishedUserInfos;
    std::vector<Finished> finishedFiles;
    std::vector<ReceivedFile> files;
    std::vector<Data> workoutData;
    std::vector<Dictionary> startWorkouts;
    std::vector<std::string> trace; // kinds of the callbacks, in order
    int callbacksOnMain = 0;

    // What to do with a message; by default its reply handler is dropped.
    std::function<void(const Dictionary&, std::optional<ReplyHandler>)> onMessage;

    void activationDidComplete(ActivationState state, std::optional<SessionError> error) override {
        note("activation");
        activations.emplace_back(state, std::move(error));
    }
    void reachabilityDidChange(bool reachable) override {
        note("reachability");
        reachability.push_back(reachable);
    }
    void didReceiveMessage(const Dictionary& message, std::optional<ReplyHandler> reply) override {
        note("message");
        messages.push_back(message);
        messageHadReplyHandler.push_back(reply.has_value());
        if (onMessage) {
            onMessage(message, std::move(reply));
        }
    }
    void didReceiveUserInfo(const Dictionary& userInfo) override {
        note("userInfo");
        userInfos.push_back(userInfo);
    }
    void didReceiveApplicationContext(const Dictionary& context) override {
        note("context");
        contexts.push_back(context);
    }
    void didFinishUserInfoTransfer(const platform::UserInfoTransfer& transfer,
                                   std::optional<SessionError> error) override {
        note("finishedUserInfo");
        finishedUserInfos.emplace_back(transfer.transferId, std::move(error));
    }
    void didReceiveFile(const platform::ReceivedFile& file) override {
        note("file");
        files.push_back({file.path, file.metadata, files_.read(file.path)});
    }
    void didFinishFileTransfer(const platform::FileTransfer& transfer,
                               std::optional<SessionError> error) override {
        note("finishedFile");
        finishedFiles.emplace_back(transfer.transferId, std::move(error));
    }
    void didReceiveWorkoutData(const Data& data) override {
        note("workoutData");
        workoutData.push_back(data);
    }
    void didReceiveStartWorkout(const Dictionary& configuration) override {
        note("startWorkout");
        startWorkouts.push_back(configuration);
    }

private:
    void note(std::string kind) {
        callbacksOnMain += main_.isCurrent() ? 1 : 0;
        trace.push_back(std::move(kind));
    }

    platform::FileSystem& files_;
    platform::Queue& main_;
};

// A FrameTransport the test drives: it records what the engine sends and lets the test play
// the peer's events.
struct ScriptedWire {
    platform::FrameTransport::Events events;
    std::vector<Dictionary> sent;
    std::vector<std::string> disconnects;
    bool started = false;
    bool stopped = false;

    std::vector<Dictionary> sentOfKind(std::string_view kind) const {
        std::vector<Dictionary> out;
        for (const auto& e : sent) {
            auto it = e.find("kind");
            if (it != e.end() && it->second == platform::Value(kind)) {
                out.push_back(e);
            }
        }
        return out;
    }
};

class ScriptedTransport final : public platform::FrameTransport {
public:
    explicit ScriptedTransport(std::shared_ptr<ScriptedWire> wire) : wire_(std::move(wire)) {}
    void start(Events events) override {
        wire_->events = std::move(events);
        wire_->started = true;
    }
    void send(const Dictionary& envelope) override { wire_->sent.push_back(envelope); }
    void disconnect(const std::string& reason) override { wire_->disconnects.push_back(reason); }
    void stop() override { wire_->stopped = true; }

private:
    std::shared_ptr<ScriptedWire> wire_;
};

inline Dictionary phoneHello(bool reachable = true) {
    return {{"kind", "hello"}, {"role", "phone"}, {"version", 1}, {"reachable", reachable}};
}
inline Dictionary watchHello() {
    return {{"kind", "hello"}, {"role", "watch"}, {"version", 1}};
}
inline Dictionary userInfoFrame(std::string id, Dictionary body) {
    return {{"kind", "userInfo"}, {"id", std::move(id)}, {"body", std::move(body)}};
}
inline Dictionary numbered(std::int64_t n) {
    return {{"n", n}};
}

// One engine over a ScriptedTransport, with everything it needs.
struct ScriptedEnd {
    explicit ScriptedEnd(LinkRole role, platform::ManualExecutor& exec) : role_(role), exec_(exec) {
        start();
    }

    // A new engine on the same store and a fresh wire, as after a restart of the program.
    void start() {
        wire = std::make_shared<ScriptedWire>();
        engine.reset();
        engine = std::make_unique<platform::SessionEngine>(
            role_, std::make_unique<ScriptedTransport>(wire),
            platform::SessionEngineServices{exec_, store, files, log});
        engine->setDelegate(&delegate);
        engine->activate();
        exec_.runUntilIdle();
    }

    // Plays a connection coming up and the peer's hello.
    void connect(const Dictionary& peerHello) {
        wire->events.connected();
        exec_.runUntilIdle();
        receive(peerHello);
    }
    void receive(const Dictionary& envelope) {
        wire->events.frame(envelope);
        exec_.runUntilIdle();
    }

    LinkRole role_;
    platform::ManualExecutor& exec_;
    platform::MemoryKeyValueStore store;
    platform::MemoryFileSystem files;
    platform::MemoryLog log;
    RecordingDelegate delegate{files, exec_.main()};
    std::shared_ptr<ScriptedWire> wire;
    std::unique_ptr<platform::SessionEngine> engine;
};

// Two engines joined by the simulated link on the manual executor. Each side keeps its store,
// files and delegate across restarts, so what the delegate recorded accumulates.
class LinkPair {
public:
    struct Side {
        Side(LinkRole r, platform::ManualExecutor& exec) : role(r), delegate(files, exec.main()) {}
        LinkRole role;
        platform::MemoryKeyValueStore store;
        platform::MemoryFileSystem files;
        RecordingDelegate delegate;
        std::unique_ptr<platform::SessionEngine> engine;
    };

    explicit LinkPair(platform::LinkFaults faults = {}, std::uint64_t seed = 1)
        : link(exec, faults, seed) {}

    Side& side(LinkRole role) { return role == LinkRole::watch ? watch : phone; }

    // A new engine for `role` on its store, activated.
    void start(LinkRole role) {
        auto& s = side(role);
        s.engine = std::make_unique<platform::SessionEngine>(
            role, link.attach(role), platform::SessionEngineServices{exec, s.store, s.files, log});
        s.engine->setDelegate(&s.delegate);
        s.engine->activate();
    }
    void stop(LinkRole role) { side(role).engine.reset(); }
    void restart(LinkRole role) {
        stop(role);
        start(role);
    }
    // The platform loses its queue of transfers, as after a device reset.
    void resetDevice(LinkRole role) {
        stop(role);
        platform::forgetQueuedTransfers(side(role).store, role);
        start(role);
    }
    void startBoth() {
        start(LinkRole::watch);
        start(LinkRole::phone);
        exec.runUntilIdle();
    }

    platform::SessionEngine& watchEngine() { return *watch.engine; }
    platform::SessionEngine& phoneEngine() { return *phone.engine; }

    platform::ManualExecutor exec;
    platform::MemoryLog log;
    platform::SimulatedLink link;
    Side watch{LinkRole::watch, exec};
    Side phone{LinkRole::phone, exec};
};

inline std::vector<std::string> idsOf(const std::vector<Finished>& finished) {
    std::vector<std::string> ids;
    for (const auto& f : finished) {
        ids.push_back(f.first);
    }
    return ids;
}

} // namespace linktest

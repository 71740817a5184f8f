// Live-message round trips between a watch and a phone SessionEngine in one process over the
// socket transport: the latency floor under every request the watch makes of the phone.
#include "platform/exec/system_executor.hpp"
#include "platform/files/file_system.hpp"
#include "platform/files/temp_directory.hpp"
#include "platform/link/session_engine.hpp"
#include "platform/link/socket/socket_transport.hpp"
#include "platform/log/log.hpp"
#include "platform/store/memory_key_value_store.hpp"

#include <benchmark/benchmark.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>

namespace {

using namespace std::chrono_literals;
using platform::Dictionary;
using platform::LinkRole;
using platform::SessionEngine;

// Generous: a bound that only a broken link reaches, so that it ends the run instead of hanging.
constexpr auto giveUpAfter = 10s;

class NoDelegate : public platform::SessionDelegate {
public:
    void activationDidComplete(platform::ActivationState,
                               std::optional<platform::SessionError>) override {}
    void reachabilityDidChange(bool) override {}
    void didReceiveMessage(const Dictionary&, std::optional<platform::ReplyHandler>) override {}
    void didReceiveUserInfo(const Dictionary&) override {}
    void didReceiveApplicationContext(const Dictionary&) override {}
    void didFinishUserInfoTransfer(const platform::UserInfoTransfer&,
                                   std::optional<platform::SessionError>) override {}
    void didReceiveFile(const platform::ReceivedFile&) override {}
};

class PhoneDelegate final : public NoDelegate {
public:
    void didReceiveMessage(const Dictionary&,
                           std::optional<platform::ReplyHandler> reply) override {
        if (reply) {
            (*reply)(Dictionary{{"status", "Success"}});
        }
    }
};

// The watch's view: reachability, and the replies and errors that came back so far.
class WatchDelegate final : public NoDelegate {
public:
    void reachabilityDidChange(bool reachable) override {
        update([&] { reachable_ = reachable; });
    }

    void replied(const Dictionary& reply) {
        const auto status = reply.find("status");
        const bool success = status != reply.end() && status->second.string() != nullptr &&
                             *status->second.string() == "Success";
        update([&] { ++(success ? replies_ : failures_); });
    }
    void failed() {
        update([&] { ++failures_; });
    }

    bool waitUntilReachable() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, giveUpAfter, [&] { return reachable_; });
    }
    // False when something other than `count` successful replies came back, or nothing in time.
    bool waitForReplies(std::uint64_t count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, giveUpAfter, [&] {
            return failures_ > 0 || replies_ >= count;
        }) && failures_ == 0;
    }

private:
    template <class F> void update(F change) {
        {
            std::lock_guard lock(mutex_);
            change();
        }
        changed_.notify_one();
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    bool reachable_ = false;
    std::uint64_t replies_ = 0;
    std::uint64_t failures_ = 0;
};

using TempDir = platform::testing::TempDirectory;

// Both ends as the two programs would run them, each with its own store and files.
struct LinkPair {
    TempDir dir;
    platform::SystemExecutor executor;
    platform::MemoryLog log;
    platform::MemoryKeyValueStore phoneStore;
    platform::MemoryKeyValueStore watchStore;
    platform::MemoryFileSystem phoneFiles;
    platform::MemoryFileSystem watchFiles;
    PhoneDelegate phoneDelegate;
    WatchDelegate watchDelegate;
    // Last, so that they stop before everything they use goes.
    std::unique_ptr<SessionEngine> phone;
    std::unique_ptr<SessionEngine> watch;
};

// Nothing when the watch never became reachable; the log then says why.
std::optional<std::string> connect(LinkPair& pair, bool tcp) {
    auto listenAt =
        tcp ? std::string("tcp:127.0.0.1:0") : "unix:" + (pair.dir.path() / "link.sock").string();
    auto address = platform::parseLinkAddress(listenAt);
    if (!address || (!tcp && pair.dir.path().empty())) {
        return "no address to listen on";
    }
    auto phoneTransport =
        std::make_unique<platform::SocketTransport>(LinkRole::phone, *address, pair.log);
    // The engine owns the transport; the pointer only reads the port it picked.
    const platform::SocketTransport* phoneSide = phoneTransport.get();
    pair.phone = std::make_unique<SessionEngine>(
        LinkRole::phone, std::move(phoneTransport),
        platform::SessionEngineServices{pair.executor, pair.phoneStore, pair.phoneFiles, pair.log});
    pair.phone->setDelegate(&pair.phoneDelegate);
    pair.phone->activate();

    if (tcp) {
        // The transport starts listening on the engine's queue, shortly after activate().
        const auto deadline = std::chrono::steady_clock::now() + giveUpAfter;
        while (!phoneSide->localPort() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(1ms);
        }
        if (!phoneSide->localPort()) {
            return "the phone never listened";
        }
        address->port = *phoneSide->localPort();
    }
    pair.watch = std::make_unique<SessionEngine>(
        LinkRole::watch,
        std::make_unique<platform::SocketTransport>(LinkRole::watch, *address, pair.log),
        platform::SessionEngineServices{pair.executor, pair.watchStore, pair.watchFiles, pair.log});
    pair.watch->setDelegate(&pair.watchDelegate);
    pair.watch->activate();
    if (!pair.watchDelegate.waitUntilReachable()) {
        return "the watch never became reachable";
    }
    return std::nullopt;
}

// One iteration: the watch sends a small dictionary expecting a reply and waits until the
// phone's {"status": "Success"} is back in its reply handler. Only one message is ever in
// flight, so this is latency, not pipelined throughput.
void roundTrips(benchmark::State& state, bool tcp) {
    LinkPair pair;
    if (auto failure = connect(pair, tcp)) {
        auto lines = pair.log.lines();
        for (const auto& line : lines) {
            *failure += "; " + line;
        }
        state.SkipWithError(failure->c_str());
        return;
    }
    const Dictionary message{{"type", "heart_rate"}, {"bpm", 128}};
    WatchDelegate& watch = pair.watchDelegate;
    std::uint64_t sent = 0;
    for (auto _ : state) {
        pair.watch->sendMessage(
            message, platform::ReplyHandler([&watch](Dictionary reply) { watch.replied(reply); }),
            [&watch](const platform::SessionError&) { watch.failed(); });
        if (!watch.waitForReplies(++sent)) {
            state.SkipWithError("a round trip failed or timed out");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_LinkRoundTrip(benchmark::State& state) {
    roundTrips(state, false);
}
BENCHMARK(BM_LinkRoundTrip)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_LinkRoundTripTcp(benchmark::State& state) {
    roundTrips(state, true);
}
BENCHMARK(BM_LinkRoundTripTcp)->UseRealTime()->Unit(benchmark::kMicrosecond);

} // namespace

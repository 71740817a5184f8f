#include "platform/exec/manual_executor.hpp"
#include "platform/link/simulated_link.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using platform::Dictionary;
using platform::FrameTransport;
using platform::LinkFaults;
using platform::LinkRole;
using platform::SimulatedLink;

namespace {

// One end of the link and what it heard, as "connected", "disconnected: why", "hello" and
// "<kind> <n>" lines. Unless told otherwise it says hello on every connection.
struct Probe {
    Probe(SimulatedLink& link, LinkRole role, bool greets = true)
        : transport(link.attach(role)), autoHello(greets) {}

    void start() {
        FrameTransport::Events events;
        events.connected = [this] {
            heard.push_back("connected");
            if (autoHello) {
                hello();
            }
        };
        events.frame = [this](Dictionary e) {
            const auto n = e.find("n");
            heard.push_back(*e.at("kind").string() +
                            (n == e.end() ? "" : " " + std::to_string(*n->second.integer())));
        };
        events.disconnected = [this](std::string why) { heard.push_back("disconnected: " + why); };
        transport->start(std::move(events));
    }
    void send(const std::string& kind, int n) { transport->send({{"kind", kind}, {"n", n}}); }
    void hello() { transport->send({{"kind", "hello"}}); }

    // What arrived, hellos left out.
    std::vector<std::string> frames() const {
        std::vector<std::string> out;
        for (const auto& h : heard) {
            if (h != "connected" && h != "hello" && h.rfind("disconnected", 0) != 0) {
                out.push_back(h);
            }
        }
        return out;
    }

    std::unique_ptr<FrameTransport> transport;
    bool autoHello;
    std::vector<std::string> heard;
};

using Lines = std::vector<std::string>;

struct LinkTest : ::testing::Test {
    explicit LinkTest(LinkFaults faults = {}, std::uint64_t seed = 1) : link(exec, faults, seed) {}
    void startBoth() {
        watch.start();
        phone.start();
        exec.runUntilIdle();
    }

    platform::ManualExecutor exec;
    SimulatedLink link;
    Probe watch{link, LinkRole::watch};
    Probe phone{link, LinkRole::phone};
};

TEST_F(LinkTest, ConnectsOnceBothEndsHaveStartedAndCarriesFramesBothWays) {
    watch.start();
    exec.advanceBy(1s);
    EXPECT_TRUE(watch.heard.empty());
    EXPECT_FALSE(link.connected());

    phone.start();
    exec.runUntilIdle();
    EXPECT_TRUE(link.connected());
    watch.send("message", 1);
    phone.send("userInfo", 2);
    exec.runUntilIdle();
    EXPECT_EQ(watch.heard, (Lines{"connected", "hello", "userInfo 2"}));
    EXPECT_EQ(phone.heard, (Lines{"connected", "hello", "message 1"}));
}

TEST_F(LinkTest, ACutLosesWhatIsInFlightAndLastsUntilRestore) {
    link.setFaults({.liveDelay = {50ms, 50ms}});
    startBoth();
    phone.send("message", 1);
    exec.advanceBy(10ms);
    link.cut();
    phone.send("message", 2);
    exec.advanceBy(1min);
    EXPECT_EQ(watch.heard, (Lines{"connected", "hello", "disconnected: cut by the test"}));
    EXPECT_FALSE(link.connected());

    link.restore();
    exec.runUntilIdle();
    phone.send("message", 3);
    exec.advanceBy(1s);
    EXPECT_EQ(watch.frames(), (Lines{"message 3"}));
    EXPECT_EQ(watch.heard.back(), "message 3");
    EXPECT_EQ(link.stats().drops, 1u);
}

TEST_F(LinkTest, AnEndThatDisconnectsIsConnectedAgainAfterTheReconnectDelay) {
    startBoth();
    watch.transport->disconnect("protocol error");
    exec.runUntilIdle();
    EXPECT_EQ(phone.heard, (Lines{"connected", "hello", "disconnected: protocol error"}));
    exec.advanceBy(99ms);
    EXPECT_FALSE(link.connected());
    exec.advanceBy(1ms);
    EXPECT_TRUE(link.connected());
    EXPECT_EQ(phone.heard.size(), 5u);
    EXPECT_EQ(phone.heard.back(), "hello");
    EXPECT_EQ(watch.heard.back(), "hello");
}

TEST_F(LinkTest, AttachingANewEndCutsOffTheOldOneForGood) {
    startBoth();
    Probe restarted(link, LinkRole::watch);
    exec.runUntilIdle();
    EXPECT_EQ(phone.heard.back(), "disconnected: the watch end was replaced");
    EXPECT_EQ(watch.heard, (Lines{"connected", "hello"}));

    restarted.start();
    exec.runUntilIdle();
    watch.send("message", 1); // the old end talks to nobody
    restarted.send("message", 2);
    phone.send("message", 3);
    exec.runUntilIdle();
    EXPECT_EQ(phone.frames(), (Lines{"message 2"}));
    EXPECT_EQ(restarted.heard, (Lines{"connected", "hello", "message 3"}));
    EXPECT_EQ(watch.heard, (Lines{"connected", "hello"}));

    // Stopping an end that was already replaced leaves the connection alone.
    watch.transport.reset();
    exec.runUntilIdle();
    EXPECT_TRUE(link.connected());
}

TEST_F(LinkTest, QueuedTransfersKeepTheirOrderWhateverTheirDelays) {
    link.setFaults({.transferDelay = {0ms, 500ms}, .liveDelay = {0ms, 500ms}});
    startBoth();
    for (int n = 1; n <= 40; ++n) {
        phone.send(n % 2 == 0 ? "userInfo" : "received", n);
    }
    exec.advanceBy(10s);
    Lines expected;
    for (int n = 1; n <= 40; ++n) {
        expected.push_back((n % 2 == 0 ? "userInfo " : "received ") + std::to_string(n));
    }
    EXPECT_EQ(watch.frames(), expected);
}

TEST_F(LinkTest, LiveFramesOvertakeQueuedTransfers) {
    link.setFaults({.transferDelay = {1s, 1s}});
    startBoth();
    phone.send("userInfo", 1);
    phone.send("message", 2);
    phone.send("reply", 3);
    exec.advanceBy(2s);
    EXPECT_EQ(watch.frames(), (Lines{"message 2", "reply 3", "userInfo 1"}));
}

TEST_F(LinkTest, ALostTransferHoldsBackItsDirectionUntilTheNextConnection) {
    startBoth();
    link.setFaults({.transferLoss = 1});
    phone.send("userInfo", 1);
    link.setFaults({});
    phone.send("userInfo", 2);
    phone.send("message", 3);
    watch.send("received", 4);
    exec.advanceBy(1s);
    EXPECT_EQ(watch.frames(), (Lines{"message 3"}));
    EXPECT_EQ(phone.frames(), (Lines{"received 4"}));
    EXPECT_EQ(link.stats().lost, 2u);

    link.cut();
    link.restore();
    exec.runUntilIdle();
    phone.send("userInfo", 5);
    exec.runUntilIdle();
    EXPECT_EQ(watch.frames(), (Lines{"message 3", "userInfo 5"}));
}

TEST_F(LinkTest, OnlyTheNewestWaitingContextArrives) {
    link.setFaults({.contextDelay = {100ms, 100ms}});
    startBoth();
    phone.send("context", 1);
    exec.advanceBy(50ms);
    phone.send("context", 2);
    phone.send("context", 3);
    exec.advanceBy(60ms);
    phone.send("context", 4);
    exec.advanceBy(1s);
    EXPECT_EQ(watch.frames(), (Lines{"context 3", "context 4"}));
    EXPECT_EQ(link.stats().coalesced, 2u);
}

TEST_F(LinkTest, HelloAndReachabilityAreNeverLostOrHeldBack) {
    link.setFaults({.transferLoss = 1,
                    .messageLoss = 1,
                    .replyLoss = 1,
                    .liveDelay = {1s, 1s},
                    .contextLoss = 1});
    startBoth();
    phone.send("reachability", 2);
    exec.runUntilIdle();
    EXPECT_EQ(watch.heard, (Lines{"connected", "hello", "reachability 2"}));
}

TEST(SimulatedLinkHelloTest, WhatAnEndSendsOnAConnectionBeforeItsHelloThereIsDropped) {
    platform::ManualExecutor exec;
    SimulatedLink link(exec, {}, 1);
    Probe watch(link, LinkRole::watch);
    Probe phone(link, LinkRole::phone, false);
    watch.start();
    phone.start();
    exec.runUntilIdle();
    phone.send("userInfo", 1);
    phone.hello();
    phone.send("userInfo", 2);
    exec.runUntilIdle();

    // A hello on the last connection does not count for the next one.
    link.cut();
    link.restore();
    exec.runUntilIdle();
    phone.send("userInfo", 3);
    phone.hello();
    phone.send("userInfo", 4);
    exec.runUntilIdle();
    EXPECT_EQ(watch.heard,
              (Lines{"connected", "hello", "userInfo 2", "disconnected: cut by the test",
                     "connected", "hello", "userInfo 4"}));
    EXPECT_EQ(link.stats().stale, 2u);
}

// Runs a fixed exchange over a faulty link and reports everything both ends heard.
std::pair<Lines, Lines> faultyRun(std::uint64_t seed) {
    platform::ManualExecutor exec;
    SimulatedLink link(exec,
                       {.transferLoss = 0.1,
                        .transferDuplicate = 0.2,
                        .transferDelay = {0ms, 200ms},
                        .messageLoss = 0.1,
                        .liveDelay = {0ms, 200ms},
                        .disconnect = 0.05,
                        .reconnectDelay = {50ms, 500ms}},
                       seed);
    Probe watch(link, LinkRole::watch);
    Probe phone(link, LinkRole::phone);
    watch.start();
    phone.start();
    for (int n = 0; n < 200; ++n) {
        phone.send(n % 3 == 0 ? "message" : "userInfo", n);
        watch.send("received", n);
        exec.advanceBy(20ms);
    }
    exec.advanceBy(10s);
    return {watch.heard, phone.heard};
}

TEST(SimulatedLinkSeedTest, TheSameSeedGivesTheSameRun) {
    const auto first = faultyRun(42);
    EXPECT_EQ(faultyRun(42), first);
    EXPECT_NE(faultyRun(43), first);
    // Faults did happen.
    EXPECT_LT(first.first.size(), 400u);
    EXPECT_NE(std::count(first.first.begin(), first.first.end(), "connected"), 1);
}

} // namespace

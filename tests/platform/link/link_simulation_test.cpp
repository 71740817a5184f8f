// Randomized runs of both engines over a faulty simulated link, one seed per run.
//
// What is guaranteed for queued user-info transfers, in each direction:
// - each transfer id reaches the receiving application at most once;
// - transfers reach it in the order they were queued (the sequence of first deliveries is a
//   subsequence of the queueing order);
// - once the link is healthy again, every transfer reaches it, except those still queued when
//   the sender's device was reset;
// - the sender hears didFinish once per transfer, without error, in queueing order, for every
//   transfer except those lost in a device reset, and nothing stays outstanding.
// Live messages sent with a reply handler hear back at most once (a reply, or an error), and
// exactly once when the sending engine lived to the end; a reply always answers its own message.
// The watch ends up with the phone's newest application context.

#include "link_harness.hpp"

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <random>
#include <set>

using namespace std::chrono_literals;
using namespace linktest;
using platform::LinkFaults;

namespace {

constexpr std::uint64_t seeds = 200;
constexpr int steps = 200;

struct Direction {
    LinkRole sender;
    LinkRole receiver;
    std::vector<std::string> queued; // transfer ids in queueing order; the body carries the index
    std::set<std::string> erased;    // still queued when the sender's device was reset
};

struct SentMessage {
    LinkRole from = LinkRole::watch;
    std::int64_t n = 0;
    int senderGeneration = 0;
    int answers = 0;
    bool replied = false;
    bool wrongReply = false;
    std::optional<SessionError> error;
};

struct Totals {
    platform::LinkStats link;
    std::size_t restarts = 0;
    std::size_t erased = 0;
    std::size_t replies = 0;
    std::size_t connectionLost = 0;
};

bool strictlyIncreasing(const std::vector<std::int64_t>& v) {
    return std::adjacent_find(v.begin(), v.end(), std::greater_equal<>()) == v.end();
}

class SimulatedRun {
public:
    explicit SimulatedRun(std::uint64_t seed)
        : pair(faults(), seed), script(seed * 0x9E3779B97F4A7C15ull + 1) {}

    void play() {
        for (auto* side : {&pair.watch, &pair.phone}) {
            side->delegate.onMessage = [](const Dictionary& m, std::optional<ReplyHandler> reply) {
                // Every fourth message goes unanswered: its handler is dropped.
                if (reply && *m.at("n").integer() % 4 != 0) {
                    (*reply)({{"echo", m.at("n")}});
                }
            };
        }
        pair.startBoth();
        for (int step = 0; step < steps; ++step) {
            act();
        }
        heal();
    }

    void check() {
        for (const auto& dir : {toWatch, toPhone}) {
            checkTransfers(dir);
        }
        checkMessages();
        const auto newest = pair.phoneEngine().applicationContext();
        EXPECT_EQ(pair.watchEngine().receivedApplicationContext(), newest);
        if (!newest.empty()) {
            ASSERT_FALSE(pair.watch.delegate.contexts.empty());
            EXPECT_EQ(pair.watch.delegate.contexts.back(), newest);
        }
    }

    void addTo(Totals& totals) const {
        const auto s = pair.link.stats();
        totals.link.lost += s.lost;
        totals.link.duplicated += s.duplicated;
        totals.link.coalesced += s.coalesced;
        totals.link.drops += s.drops;
        totals.restarts += restarts;
        totals.erased += toWatch.erased.size() + toPhone.erased.size();
        for (const auto& m : messages) {
            totals.replies += m.replied ? 1 : 0;
            totals.connectionLost +=
                m.error && m.error->code == SessionError::Code::connectionLost ? 1 : 0;
        }
    }

private:
    static LinkFaults faults() {
        return {.transferLoss = 0.05,
                .transferDuplicate = 0.1,
                .transferDelay = {0ms, 300ms},
                .messageLoss = 0.05,
                .replyLoss = 0.1,
                .liveDelay = {0ms, 200ms},
                .contextLoss = 0.05,
                .contextDelay = {0ms, 300ms},
                .disconnect = 0.02,
                .reconnectDelay = {100ms, 2s}};
    }

    int pick(int bound) { return std::uniform_int_distribution<int>(0, bound - 1)(script); }

    void act() {
        const int roll = pick(100);
        if (roll < 25) {
            transfer(toWatch);
        } else if (roll < 40) {
            transfer(toPhone);
        } else if (roll < 48) {
            ASSERT_EQ(pair.phoneEngine().updateApplicationContext({{"v", ++contextVersion}}),
                      std::nullopt);
        } else if (roll < 58) {
            send(LinkRole::watch);
        } else if (roll < 63) {
            send(LinkRole::phone);
        } else if (roll < 67) {
            pair.link.cut();
        } else if (roll < 73) {
            pair.link.restore();
        } else if (roll < 76) {
            restart(LinkRole::phone);
        } else if (roll < 79) {
            restart(LinkRole::watch);
        } else if (roll < 80) {
            resetDevice(pick(2) == 0 ? toWatch : toPhone);
        } else if (roll < 83) {
            pair.phoneEngine().setPhoneReachable(pick(3) != 0);
        } else {
            pair.exec.advanceBy(std::chrono::milliseconds(pick(400)));
        }
    }

    void transfer(Direction& dir) {
        const auto index = static_cast<std::int64_t>(dir.queued.size());
        dir.queued.push_back(engine(dir.sender).transferUserInfo({{"index", index}}).transferId);
    }

    void send(LinkRole from) {
        auto& m = messages.emplace_back();
        m.from = from;
        m.n = ++messageNumber;
        m.senderGeneration = generation[from];
        SentMessage* record = &m;
        engine(from).sendMessage({{"n", m.n}}, ReplyHandler([record](Dictionary reply) {
                                     ++record->answers;
                                     record->replied = true;
                                     record->wrongReply |= reply != Dictionary{{"echo", record->n}};
                                 }),
                                 [record](SessionError error) {
                                     ++record->answers;
                                     record->error = std::move(error);
                                 });
    }

    // The program waits for activation before it uses the session again.
    void restart(LinkRole role) {
        pair.restart(role);
        pair.exec.runUntilIdle();
        ++generation[role];
        ++restarts;
    }

    void resetDevice(Direction& dir) {
        for (const auto& t : engine(dir.sender).outstandingUserInfoTransfers()) {
            dir.erased.insert(t.transferId);
        }
        pair.restart(dir.sender, true);
        pair.exec.runUntilIdle();
        ++generation[dir.sender];
    }

    // No more faults, and one last fresh connection, so that everything queued goes out again.
    void heal() {
        pair.link.setFaults({});
        pair.phoneEngine().setPhoneReachable(true);
        pair.link.restore();
        pair.exec.advanceBy(5s);
        pair.link.cut();
        pair.link.restore();
        pair.exec.advanceBy(1min);
        ASSERT_TRUE(pair.link.connected());
    }

    void checkTransfers(const Direction& dir) {
        SCOPED_TRACE(std::string("to the ") +
                     (dir.receiver == LinkRole::watch ? "watch" : "phone"));
        std::map<std::string, std::int64_t> indexOf;
        for (std::size_t i = 0; i < dir.queued.size(); ++i) {
            indexOf[dir.queued[i]] = static_cast<std::int64_t>(i);
        }

        std::vector<std::int64_t> delivered;
        for (const auto& info : pair.side(dir.receiver).delegate.userInfos) {
            delivered.push_back(*info.at("index").integer());
        }
        EXPECT_TRUE(strictlyIncreasing(delivered))
            << "delivered more than once or out of order: " << ::testing::PrintToString(delivered);

        std::vector<std::int64_t> finished;
        for (const auto& [id, error] : pair.side(dir.sender).delegate.finishedUserInfos) {
            EXPECT_EQ(error, std::nullopt);
            ASSERT_TRUE(indexOf.contains(id));
            finished.push_back(indexOf[id]);
        }
        EXPECT_TRUE(strictlyIncreasing(finished)) << "finished more than once or out of order";

        const std::set<std::int64_t> deliveredSet(delivered.begin(), delivered.end());
        const std::set<std::int64_t> finishedSet(finished.begin(), finished.end());
        for (std::size_t i = 0; i < dir.queued.size(); ++i) {
            if (!dir.erased.contains(dir.queued[i])) {
                const auto index = static_cast<std::int64_t>(i);
                EXPECT_TRUE(deliveredSet.contains(index)) << "transfer " << i << " never arrived";
                EXPECT_TRUE(finishedSet.contains(index)) << "transfer " << i << " never finished";
            }
        }
        EXPECT_TRUE(engine(dir.sender).outstandingUserInfoTransfers().empty());
    }

    void checkMessages() {
        for (const auto& m : messages) {
            SCOPED_TRACE("message " + std::to_string(m.n));
            EXPECT_FALSE(m.wrongReply);
            // A restart drops the handlers of the engine that sent it.
            if (m.senderGeneration == generation[m.from]) {
                EXPECT_EQ(m.answers, 1);
            } else {
                EXPECT_LE(m.answers, 1);
            }
        }
    }

    platform::SessionEngine& engine(LinkRole role) { return *pair.side(role).engine; }

    LinkPair pair;
    std::mt19937_64 script;
    Direction toWatch{LinkRole::phone, LinkRole::watch, {}, {}};
    Direction toPhone{LinkRole::watch, LinkRole::phone, {}, {}};
    std::deque<SentMessage> messages;
    std::map<LinkRole, int> generation{{LinkRole::watch, 0}, {LinkRole::phone, 0}};
    std::int64_t messageNumber = 0;
    std::int64_t contextVersion = 0;
    std::size_t restarts = 0;
};

TEST(LinkSimulationTest, TransfersArriveOnceInOrderAndMessagesHearBackOnceWhateverTheLinkDoes) {
    Totals totals;
    for (std::uint64_t seed = 1; seed <= seeds; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        SimulatedRun run(seed);
        run.play();
        run.check();
        run.addTo(totals);
        if (HasFailure()) {
            break; // one seed's story is enough to read
        }
    }
    // The runs went through what they claim to survive.
    EXPECT_GT(totals.link.lost, 0u);
    EXPECT_GT(totals.link.duplicated, 0u);
    EXPECT_GT(totals.link.coalesced, 0u);
    EXPECT_GT(totals.link.drops, 0u);
    EXPECT_GT(totals.restarts, 0u);
    EXPECT_GT(totals.erased, 0u);
    EXPECT_GT(totals.replies, 0u);
    EXPECT_GT(totals.connectionLost, 0u);
}

} // namespace

#include "platform/link/simulated_link.hpp"

#include "platform/link/envelope.hpp"

#include <algorithm>
#include <array>
#include <deque>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <utility>

namespace platform {

namespace {

std::size_t indexOf(LinkRole role) {
    return role == LinkRole::watch ? 0 : 1;
}
LinkRole peerOf(LinkRole role) {
    return role == LinkRole::watch ? LinkRole::phone : LinkRole::watch;
}

enum class Channel { control, transfer, context, reply, live };

Channel channelOf(std::string_view kind) {
    if (kind == "hello" || kind == "reachability") {
        return Channel::control;
    }
    if (kind == "userInfo" || kind == "file" || kind == "received") {
        return Channel::transfer;
    }
    if (kind == "context") {
        return Channel::context;
    }
    if (kind == "reply") {
        return Channel::reply;
    }
    return Channel::live;
}

// One end's side of event delivery. The call mutex is held while an event runs, so that stop()
// returns only once no event is running; it is recursive so that a handler may stop its own end.
struct EndState {
    std::recursive_mutex callMutex;
    FrameTransport::Events events;
    bool started = false;         // guarded by the core's mutex
    std::uint64_t helloEpoch = 0; // the connection it last said hello on; core's mutex
    bool stopped = false;         // guarded by callMutex
};

} // namespace

class SimulatedLink::Core {
public:
    Core(Executor& executor, LinkFaults faults, std::uint64_t seed)
        : clock_(executor.clock()), rng_(seed), faults_(faults),
          queue_(executor.makeSerialQueue("simulated-link")) {}

    std::shared_ptr<EndState> attach(LinkRole role) {
        auto end = std::make_shared<EndState>();
        std::shared_ptr<EndState> old;
        {
            std::lock_guard lock(mutex_);
            old = std::exchange(ends_[indexOf(role)], end);
            if (old) {
                drop("the " + std::string(phonelink::roleName(role)) + " end was replaced", false);
            }
        }
        if (old) {
            std::lock_guard guard(old->callMutex);
            old->stopped = true;
        }
        return end;
    }

    void start(const std::shared_ptr<EndState>& end, FrameTransport::Events events) {
        {
            std::lock_guard guard(end->callMutex);
            end->events = std::move(events);
        }
        std::lock_guard lock(mutex_);
        end->started = true;
        connectIfPossible();
    }

    void stop(LinkRole role, const std::shared_ptr<EndState>& end) {
        {
            std::lock_guard guard(end->callMutex);
            end->stopped = true;
        }
        std::lock_guard lock(mutex_);
        if (ends_[indexOf(role)] == end) {
            ends_[indexOf(role)] = nullptr;
            drop("the " + std::string(phonelink::roleName(role)) + " end stopped", false);
        }
    }

    void disconnect(LinkRole role, const std::shared_ptr<EndState>& end,
                    const std::string& reason) {
        std::lock_guard lock(mutex_);
        if (ends_[indexOf(role)] == end) {
            drop(reason, true);
        }
    }

    void send(LinkRole from, const std::shared_ptr<EndState>& end, const Dictionary& envelope) {
        std::lock_guard lock(mutex_);
        if (!up_ || ends_[indexOf(from)] != end) {
            return;
        }
        const auto kind = phonelink::envelopeKind(envelope);
        if (kind == "hello") {
            end->helloEpoch = epoch_;
        } else if (end->helloEpoch != epoch_) {
            // Sent before this connection's hello, so meant for an earlier one: it would
            // otherwise overtake the hello or land in a connection the sender has not seen yet.
            ++stats_.stale;
            return;
        }
        ++stats_.sent;
        if (observer_) {
            observer_(from, envelope);
        }
        const LinkRole to = peerOf(from);
        auto& dir = directions_[indexOf(from)];
        switch (channelOf(kind)) {
        case Channel::control:
            deliverAfter(Duration(0), to, envelope);
            break;
        case Channel::transfer:
            sendQueued(dir, to, envelope);
            break;
        case Channel::context:
            if (chance(faults_.contextLoss)) {
                ++stats_.lost;
            } else if (dir.context) {
                dir.context = envelope;
                ++stats_.coalesced;
            } else {
                dir.context = envelope;
                schedule(delay(faults_.contextDelay),
                         [this, from, epoch = epoch_] { deliverContext(from, epoch); });
            }
            break;
        case Channel::reply:
            sendLive(faults_.replyLoss, to, envelope);
            break;
        case Channel::live:
            sendLive(faults_.messageLoss, to, envelope);
            break;
        }
        if (chance(faults_.disconnect)) {
            drop("simulated connection loss", true);
        }
    }

    void cut() {
        std::lock_guard lock(mutex_);
        cutByTest_ = true;
        drop("cut by the test", false);
    }

    void restore() {
        std::lock_guard lock(mutex_);
        cutByTest_ = false;
        connectIfPossible();
    }

    void setFaults(LinkFaults faults) {
        std::lock_guard lock(mutex_);
        faults_ = faults;
    }
    bool connected() const {
        std::lock_guard lock(mutex_);
        return up_;
    }
    LinkStats stats() const {
        std::lock_guard lock(mutex_);
        return stats_;
    }
    void onFrameSent(std::function<void(LinkRole, const Dictionary&)> observer) {
        std::lock_guard lock(mutex_);
        observer_ = std::move(observer);
    }

private:
    struct Direction {
        std::deque<Dictionary> transfers; // in flight, in order
        TimePoint lastDue{};
        bool stalled = false;
        std::optional<Dictionary> context;
    };

    // With mutex_ held from here on.

    bool chance(double p) {
        return p > 0 && std::uniform_real_distribution<double>(0.0, 1.0)(rng_) < p;
    }
    Duration delay(DelayRange range) {
        if (range.max <= range.min) {
            return range.min;
        }
        return Duration(std::uniform_int_distribution<Duration::rep>(range.min.count(),
                                                                     range.max.count())(rng_));
    }

    // Without delay a task goes behind the ones posted before it on any executor; timers that
    // fall due together promise no order.
    void schedule(Duration after, Task task) {
        if (after <= Duration(0)) {
            queue_->async(std::move(task));
        } else {
            queue_->asyncAfter(after, std::move(task));
        }
    }

    void sendLive(double loss, LinkRole to, const Dictionary& envelope) {
        if (chance(loss)) {
            ++stats_.lost;
            return;
        }
        deliverAfter(delay(faults_.liveDelay), to, envelope);
    }

    void sendQueued(Direction& dir, LinkRole to, const Dictionary& envelope) {
        if (dir.stalled || chance(faults_.transferLoss)) {
            dir.stalled = true;
            ++stats_.lost;
            return;
        }
        const int copies = chance(faults_.transferDuplicate) ? 2 : 1;
        stats_.duplicated += static_cast<std::size_t>(copies - 1);
        for (int i = 0; i < copies; ++i) {
            // Never before the frame ahead of it: the queue keeps its order.
            const TimePoint due =
                std::max(clock_.now() + delay(faults_.transferDelay), dir.lastDue);
            dir.lastDue = due;
            dir.transfers.push_back(envelope);
            // Each firing hands over the oldest frame, whichever timer fires first.
            schedule(due - clock_.now(),
                     [this, from = peerOf(to), epoch = epoch_] { deliverQueued(from, epoch); });
        }
    }

    void deliverAfter(Duration after, LinkRole to, Dictionary envelope) {
        schedule(after, [this, to, epoch = epoch_, envelope = std::move(envelope)] {
            deliverFrame(to, epoch, envelope);
        });
    }

    // Ends the connection: what is in flight is lost; both ends hear of it.
    void drop(const std::string& reason, bool reconnectLater) {
        if (!up_) {
            return;
        }
        up_ = false;
        ++epoch_;
        ++stats_.drops;
        directions_ = {};
        for (const auto& end : ends_) {
            if (end && end->started) {
                queue_->async([end, reason] {
                    call(end, [&](const FrameTransport::Events& e) { e.disconnected(reason); });
                });
            }
        }
        if (reconnectLater) {
            reconnecting_ = true;
            queue_->asyncAfter(delay(faults_.reconnectDelay), [this] {
                std::lock_guard lock(mutex_);
                reconnecting_ = false;
                connectIfPossible();
            });
        }
    }

    void connectIfPossible() {
        const auto ready = [](const std::shared_ptr<EndState>& e) { return e && e->started; };
        if (up_ || cutByTest_ || reconnecting_ || !std::all_of(ends_.begin(), ends_.end(), ready)) {
            return;
        }
        up_ = true;
        ++epoch_;
        directions_ = {};
        for (const auto& end : ends_) {
            queue_->async(
                [end] { call(end, [](const FrameTransport::Events& e) { e.connected(); }); });
        }
    }

    // Without mutex_ held: these run as tasks on the link's queue.

    template <class F> static void call(const std::shared_ptr<EndState>& end, F&& f) {
        std::lock_guard guard(end->callMutex);
        if (!end->stopped) {
            f(end->events);
        }
    }

    std::shared_ptr<EndState> endFor(LinkRole to, std::uint64_t epoch) {
        if (epoch != epoch_ || !up_) {
            return nullptr;
        }
        ++stats_.delivered;
        return ends_[indexOf(to)];
    }

    void hand(const std::shared_ptr<EndState>& end, Dictionary envelope) {
        if (end) {
            call(end, [&](const FrameTransport::Events& e) { e.frame(std::move(envelope)); });
        }
    }

    void deliverFrame(LinkRole to, std::uint64_t epoch, const Dictionary& envelope) {
        std::shared_ptr<EndState> end;
        {
            std::lock_guard lock(mutex_);
            end = endFor(to, epoch);
        }
        hand(end, envelope);
    }

    void deliverQueued(LinkRole from, std::uint64_t epoch) {
        std::shared_ptr<EndState> end;
        Dictionary envelope;
        {
            std::lock_guard lock(mutex_);
            auto& dir = directions_[indexOf(from)];
            if (epoch != epoch_ || dir.transfers.empty()) {
                return;
            }
            envelope = std::move(dir.transfers.front());
            dir.transfers.pop_front();
            end = endFor(peerOf(from), epoch);
        }
        hand(end, std::move(envelope));
    }

    void deliverContext(LinkRole from, std::uint64_t epoch) {
        std::shared_ptr<EndState> end;
        std::optional<Dictionary> envelope;
        {
            std::lock_guard lock(mutex_);
            auto& dir = directions_[indexOf(from)];
            if (epoch != epoch_ || !dir.context) {
                return;
            }
            envelope = std::exchange(dir.context, std::nullopt);
            end = endFor(peerOf(from), epoch);
        }
        hand(end, std::move(*envelope));
    }

    const Clock& clock_;
    mutable std::mutex mutex_;
    std::mt19937_64 rng_;
    LinkFaults faults_;
    LinkStats stats_;
    std::function<void(LinkRole, const Dictionary&)> observer_;
    std::array<std::shared_ptr<EndState>, 2> ends_;
    std::array<Direction, 2> directions_; // by sending role
    bool cutByTest_ = false;
    bool reconnecting_ = false;
    bool up_ = false;
    std::uint64_t epoch_ = 0;
    // Last, so that it goes first: a task still running finishes while the rest is intact.
    std::unique_ptr<Queue> queue_;
};

class SimulatedLink::End final : public FrameTransport {
public:
    End(std::shared_ptr<Core> core, LinkRole role)
        : core_(std::move(core)), role_(role), state_(core_->attach(role)) {}
    ~End() override { stop(); }
    End(const End&) = delete;
    End& operator=(const End&) = delete;

    void start(Events events) override { core_->start(state_, std::move(events)); }
    void send(const Dictionary& envelope) override { core_->send(role_, state_, envelope); }
    void disconnect(const std::string& reason) override {
        core_->disconnect(role_, state_, reason);
    }
    void stop() override { core_->stop(role_, state_); }

private:
    std::shared_ptr<Core> core_;
    LinkRole role_;
    std::shared_ptr<EndState> state_;
};

SimulatedLink::SimulatedLink(Executor& executor, LinkFaults faults, std::uint64_t seed)
    : core_(std::make_shared<Core>(executor, faults, seed)) {}

SimulatedLink::~SimulatedLink() = default;

std::unique_ptr<FrameTransport> SimulatedLink::attach(LinkRole role) {
    return std::make_unique<End>(core_, role);
}

void SimulatedLink::setFaults(LinkFaults faults) {
    core_->setFaults(faults);
}
void SimulatedLink::cut() {
    core_->cut();
}
void SimulatedLink::restore() {
    core_->restore();
}
bool SimulatedLink::connected() const {
    return core_->connected();
}
LinkStats SimulatedLink::stats() const {
    return core_->stats();
}

void SimulatedLink::onFrameSent(
    std::function<void(LinkRole from, const Dictionary& envelope)> observer) {
    core_->onFrameSent(std::move(observer));
}

} // namespace platform

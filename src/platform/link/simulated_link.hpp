#pragma once

#include "platform/exec/queue.hpp"
#include "platform/link/frame_transport.hpp"
#include "platform/link/session.hpp"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace platform {

struct DelayRange {
    Duration min{0};
    Duration max{0};
};

// What goes wrong on the simulated link. Chances are probabilities per frame sent.
struct LinkFaults {
    // Queued transfers and their answers (userInfo, file, received) travel in order, like the
    // platform's queue. A lost one stalls its direction's queue: nothing behind it arrives until
    // the next connection, as when the platform holds transfers back while the peer seems away.
    double transferLoss = 0;
    double transferDuplicate = 0; // delivered twice in a row
    DelayRange transferDelay{};
    // Live frames (message, reply, workoutData, startWorkout) are delayed each on its own, so
    // they overtake queued transfers and one another.
    double messageLoss = 0; // message, workoutData, startWorkout
    double replyLoss = 0;
    DelayRange liveDelay{};
    // A context waiting for delivery is replaced by a newer one: only the newest arrives.
    double contextLoss = 0;
    DelayRange contextDelay{};
    // The connection drops right after a frame is sent (losing what is in flight) and comes
    // back after reconnectDelay. hello and reachability are never lost or delayed otherwise.
    double disconnect = 0;
    DelayRange reconnectDelay{std::chrono::milliseconds(100), std::chrono::milliseconds(100)};
};

struct LinkStats {
    std::size_t sent = 0;
    std::size_t delivered = 0;
    std::size_t lost = 0; // dropped by a fault or by a stalled queue, not by a connection drop
    std::size_t duplicated = 0;
    std::size_t coalesced = 0;
    std::size_t drops = 0; // connections that went down
    std::size_t stale = 0; // sent on a connection before the sender's hello there
};

// Two FrameTransport ends joined through an Executor, for deterministic simulation tests: run
// on the ManualExecutor, the same seed and the same calls give the same run. Every random choice
// comes from one std::mt19937_64 seeded with `seed`.
//
// The connection is up while both ends are attached and started and the test has not cut it.
// On each connection an end's first frame must be its hello: what it sends before that was meant
// for an earlier connection (its engine has not yet heard of the new one) and is dropped.
// Restarting an end is attaching a new end for its role (the engine on the same store); the old
// end then gets no further events. Ends may outlive the link object.
class SimulatedLink {
public:
    SimulatedLink(Executor& executor, LinkFaults faults, std::uint64_t seed);
    ~SimulatedLink();
    SimulatedLink(const SimulatedLink&) = delete;
    SimulatedLink& operator=(const SimulatedLink&) = delete;

    std::unique_ptr<FrameTransport> attach(LinkRole role);

    void setFaults(LinkFaults faults);
    // Down, losing what is in flight, until restore().
    void cut();
    void restore();
    bool connected() const;
    LinkStats stats() const;
    // Sees each frame an end sends on a live connection, before the faults act on it, so that a
    // test can tell the copies the link made from the frames the ends sent. It runs with the
    // link's lock held and must not call back into the link.
    void onFrameSent(std::function<void(LinkRole from, const Dictionary& envelope)> observer);

private:
    class Core;
    class End;
    std::shared_ptr<Core> core_;
};

} // namespace platform

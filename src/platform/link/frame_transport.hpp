#pragma once

#include "platform/values/value.hpp"

#include <functional>
#include <string>

namespace platform {

// Carries envelopes (the dictionaries of the link's wire protocol: hello, message, reply,
// userInfo, received, context, file, reachability, workoutData, startWorkout) between the two
// ends, over a socket or through the simulation. It knows nothing of the session's rules; the
// session engine above it does the hello exchange, transfers, replies and persistence.
class FrameTransport {
public:
    struct Events {
        // A connection to the peer is up; the engine sends its hello.
        std::function<void()> connected;
        // One envelope from the peer, in the order the connection delivered it.
        std::function<void(Dictionary envelope)> frame;
        // The connection is gone (the watch end then reconnects by itself).
        std::function<void(std::string reason)> disconnected;
    };

    virtual ~FrameTransport() = default;

    // Events arrive on one thread at a time, never concurrently, in order.
    virtual void start(Events events) = 0;
    // Sent when connected, dropped otherwise; the engine decides what must be sent again.
    virtual void send(const Dictionary& envelope) = 0;
    // Closes the current connection (a protocol error); the watch end reconnects.
    virtual void disconnect(const std::string& reason) = 0;
    // Stops for good; no event arrives after it returns.
    virtual void stop() = 0;
};

} // namespace platform

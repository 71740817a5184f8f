#pragma once

#include "platform/link/frame_transport.hpp"
#include "platform/link/session.hpp"
#include "platform/link/socket/link_address.hpp"
#include "platform/log/log.hpp"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

namespace platform {

// The largest frame body the link carries, in bytes.
inline constexpr std::uint32_t maxLinkFrameLength = 64u * 1024u * 1024u;

struct SocketTransportOptions {
    // The watch waits this long before reconnecting after a loss or a failed attempt, doubling the
    // wait after each failed attempt up to maxRetryDelay; the phone retries listening the same way.
    std::chrono::milliseconds firstRetryDelay{100};
    std::chrono::milliseconds maxRetryDelay{2000};
};

// The link's frames over a stream socket: the phone end listens and keeps the newest watch
// connection, the watch end connects and keeps reconnecting. Each frame is a 4-byte big-endian
// length, then that many bytes of a bplist00 document whose root is a dictionary.
//
// Events arrive on the transport's own thread. Calls may come from any thread, event callbacks
// included, except that the transport must not be destroyed from one of its own callbacks.
class SocketTransport final : public FrameTransport {
public:
    SocketTransport(LinkRole role, LinkAddress address, Log& log,
                    SocketTransportOptions options = {});
    ~SocketTransport() override;

    SocketTransport(const SocketTransport&) = delete;
    SocketTransport& operator=(const SocketTransport&) = delete;

    // The phone end listens before this returns when it can, and otherwise keeps retrying.
    void start(Events events) override;
    // Goes to the connection that is current when called; dropped when there is none, or when
    // that connection is gone by the time the frame would be written.
    void send(const Dictionary& envelope) override;
    void disconnect(const std::string& reason) override;
    void stop() override;

    // The TCP port the phone end listens on (useful after listening on port 0); nothing while it
    // is not listening and for the watch end.
    std::optional<std::uint16_t> localPort() const;

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace platform

#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Where the phone end listens and the watch end connects: `unix:PATH` or `tcp:HOST:PORT`.
// TCP is limited to loopback hosts because the link carries the user's data unencrypted.
struct LinkAddress {
    enum class Kind { unixSocket, tcp };

    Kind kind = Kind::unixSocket;
    // Kind::unixSocket: the socket file.
    std::string path;
    // Kind::tcp: a loopback IP literal ("localhost" is kept as 127.0.0.1, so that both ends agree
    // without a name lookup) and the port (0 lets the listening end pick one).
    std::string host;
    std::uint16_t port = 0;

    bool operator==(const LinkAddress&) const = default;
};

// The address as text that parseLinkAddress reads back.
std::string toString(const LinkAddress& address);

// Nothing for text that is not a usable address; `error`, when given, then says why.
std::optional<LinkAddress> parseLinkAddress(std::string_view text, std::string* error = nullptr);

// Where phone-sim listens and the watch connects unless told otherwise:
// unix:$XDG_RUNTIME_DIR/wristside-phone-link.sock when that variable holds an absolute path, else
// unix:/tmp/wristside-<uid>/phone-link.sock.
std::string defaultLinkAddress();

// Why the address cannot be used (a hand-built one with a non-loopback host, say); nothing when it
// can.
std::optional<std::string> checkLinkAddress(const LinkAddress& address);

} // namespace platform

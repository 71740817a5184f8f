#include "platform/link/socket/link_address.hpp"

#include <cstdlib>
#include <unistd.h>

#include <asio/ip/address.hpp>

#include <sys/un.h>

#include <algorithm>
#include <cctype>

namespace platform {

namespace {

constexpr std::string_view unixPrefix = "unix:";
constexpr std::string_view tcpPrefix = "tcp:";
// sun_path must hold the path and its terminating NUL.
constexpr std::size_t maxSocketPathLength = sizeof(sockaddr_un::sun_path) - 1;

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return std::ranges::equal(a, b, [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

std::optional<std::uint16_t> parsePort(std::string_view text) {
    if (text.empty() || text.size() > 5 ||
        !std::ranges::all_of(text, [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    unsigned value = 0;
    for (char c : text) {
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > 65535) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(value);
}

// The canonical loopback literal for host, or why it is refused.
std::optional<std::string> loopbackHost(std::string_view host, std::string* error) {
    if (equalsIgnoringCase(host, "localhost")) {
        return "127.0.0.1";
    }
    asio::error_code ec;
    auto address = asio::ip::make_address(std::string(host), ec);
    if (ec || !address.is_loopback()) {
        *error = "host \"" + std::string(host) +
                 "\" is not a loopback address (use 127.0.0.0/8, ::1 or localhost)";
        return std::nullopt;
    }
    return address.to_string();
}

std::optional<std::string> unixPathProblem(std::string_view path) {
    if (path.empty()) {
        return "unix: needs a socket path";
    }
    if (path.find('\0') != std::string_view::npos) {
        return "the socket path contains a NUL character";
    }
    if (path.size() > maxSocketPathLength) {
        return "the socket path is longer than " + std::to_string(maxSocketPathLength) + " bytes";
    }
    return std::nullopt;
}

std::optional<LinkAddress> parseTcp(std::string_view rest, std::string* error) {
    std::string_view host;
    std::string_view port;
    if (rest.starts_with('[')) {
        auto close = rest.find(']');
        if (close == std::string_view::npos || close + 1 >= rest.size() || rest[close + 1] != ':') {
            *error = "expected tcp:[HOST]:PORT";
            return std::nullopt;
        }
        host = rest.substr(1, close - 1);
        port = rest.substr(close + 2);
    } else {
        // The port follows the last colon, so an unbracketed IPv6 host such as ::1 still works.
        auto colon = rest.rfind(':');
        if (colon == std::string_view::npos) {
            *error = "expected tcp:HOST:PORT";
            return std::nullopt;
        }
        host = rest.substr(0, colon);
        port = rest.substr(colon + 1);
    }
    auto portNumber = parsePort(port);
    if (!portNumber) {
        *error = "port \"" + std::string(port) + "\" is not a number from 0 to 65535";
        return std::nullopt;
    }
    auto canonical = loopbackHost(host, error);
    if (!canonical) {
        return std::nullopt;
    }
    LinkAddress address;
    address.kind = LinkAddress::Kind::tcp;
    address.host = std::move(*canonical);
    address.port = *portNumber;
    return address;
}

} // namespace

std::string toString(const LinkAddress& address) {
    if (address.kind == LinkAddress::Kind::unixSocket) {
        return std::string(unixPrefix) + address.path;
    }
    bool v6 = address.host.find(':') != std::string::npos;
    return std::string(tcpPrefix) + (v6 ? "[" + address.host + "]" : address.host) + ":" +
           std::to_string(address.port);
}

std::optional<LinkAddress> parseLinkAddress(std::string_view text, std::string* error) {
    std::string problem;
    std::optional<LinkAddress> parsed;
    if (text.starts_with(unixPrefix)) {
        auto path = text.substr(unixPrefix.size());
        if (auto pathProblem = unixPathProblem(path)) {
            problem = std::move(*pathProblem);
        } else {
            parsed = LinkAddress{LinkAddress::Kind::unixSocket, std::string(path), {}, 0};
        }
    } else if (text.starts_with(tcpPrefix)) {
        parsed = parseTcp(text.substr(tcpPrefix.size()), &problem);
    } else {
        problem = "expected unix:PATH or tcp:HOST:PORT";
    }
    if (!parsed && error) {
        *error = "link address \"" + std::string(text) + "\": " + problem;
    }
    return parsed;
}

std::optional<std::string> checkLinkAddress(const LinkAddress& address) {
    if (address.kind == LinkAddress::Kind::unixSocket) {
        return unixPathProblem(address.path);
    }
    std::string problem;
    if (!loopbackHost(address.host, &problem)) {
        return problem;
    }
    return std::nullopt;
}

std::string defaultLinkAddress() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && std::string_view(runtime).starts_with('/')) {
        return "unix:" + std::string(runtime) + "/wristside-phone-link.sock";
    }
    return "unix:/tmp/wristside-" + std::to_string(::getuid()) + "/phone-link.sock";
}

} // namespace platform

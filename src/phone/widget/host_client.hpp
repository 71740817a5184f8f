#pragma once

#include <nlohmann/json.hpp>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

namespace phone::widget {

// A client of the widget host's phone socket: one JSON object per line out, one answer line
// back. Blocking, with a short deadline on every step, so it belongs on a queue of its own; a
// host that is not there fails at once (connecting to a Unix socket does not wait).
class HostClient {
public:
    explicit HostClient(std::filesystem::path socket,
                        std::chrono::milliseconds timeout = std::chrono::milliseconds(1000));
    ~HostClient();
    HostClient(const HostClient&) = delete;
    HostClient& operator=(const HostClient&) = delete;

    // The host's answer; nothing (with why in *error) when the host could not be reached or did
    // not answer in time. The connection is kept for the next request; a broken one is made
    // again once, since a host that restarted leaves the old one dead.
    std::optional<nlohmann::json> request(const nlohmann::json& line, std::string* error = nullptr);

    const std::filesystem::path& socket() const { return socket_; }

private:
    bool connect(std::string* error);
    void disconnect();
    std::optional<nlohmann::json> exchange(const std::string& line, std::string* error);

    std::filesystem::path socket_;
    std::chrono::milliseconds timeout_;
    int fd_ = -1;
    std::string pending_;
    bool timedOut_ = false;
};

} // namespace phone::widget

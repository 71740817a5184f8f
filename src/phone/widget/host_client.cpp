#include "phone/widget/host_client.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace phone::widget {

namespace {

using Clock = std::chrono::steady_clock;

bool fail(std::string* error, std::string text) {
    if (error != nullptr) {
        *error = std::move(text);
    }
    return false;
}

// Waits for `events` until the deadline; false when it passed or the wait failed.
bool waitFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd entry{fd, events, 0};
        int ready = ::poll(&entry, 1, static_cast<int>(left.count()));
        if (ready > 0) {
            return true;
        }
        if (ready < 0 && errno != EINTR) {
            return false;
        }
    }
}

} // namespace

HostClient::HostClient(std::filesystem::path socket, std::chrono::milliseconds timeout)
    : socket_(std::move(socket)), timeout_(timeout) {}

HostClient::~HostClient() {
    disconnect();
}

void HostClient::disconnect() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
    fd_ = -1;
    pending_.clear();
}

bool HostClient::connect(std::string* error) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const auto path = socket_.string();
    if (path.size() >= sizeof(address.sun_path)) {
        return fail(error, "socket path too long");
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        return fail(error, std::string("socket: ") + std::strerror(errno));
    }
    if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        // A full backlog answers EAGAIN rather than making us wait: the host is busy, try later.
        auto text = std::string(std::strerror(errno));
        disconnect();
        return fail(error, text);
    }
    return true;
}

std::optional<nlohmann::json> HostClient::exchange(const std::string& line, std::string* error) {
    const auto deadline = Clock::now() + timeout_;
    timedOut_ = false;
    std::size_t sent = 0;
    while (sent < line.size()) {
        auto written = ::send(fd_, line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
        if (written > 0) {
            sent += static_cast<std::size_t>(written);
        } else if (written < 0 && (errno == EAGAIN || errno == EINTR)) {
            if (!waitFor(fd_, POLLOUT, deadline)) {
                timedOut_ = true;
                fail(error, "timed out sending");
                return std::nullopt;
            }
        } else {
            fail(error, std::string("send: ") + std::strerror(errno));
            return std::nullopt;
        }
    }
    for (;;) {
        if (auto end = pending_.find('\n'); end != std::string::npos) {
            auto answer = nlohmann::json::parse(pending_.substr(0, end), nullptr, false);
            pending_.erase(0, end + 1);
            if (answer.is_discarded()) {
                fail(error, "the host's answer is not JSON");
                return std::nullopt;
            }
            return answer;
        }
        char buffer[4096];
        auto got = ::recv(fd_, buffer, sizeof(buffer), 0);
        if (got > 0) {
            pending_.append(buffer, static_cast<std::size_t>(got));
        } else if (got == 0) {
            fail(error, "the host closed the connection");
            return std::nullopt;
        } else if (errno == EAGAIN || errno == EINTR) {
            if (!waitFor(fd_, POLLIN, deadline)) {
                timedOut_ = true;
                fail(error, "no answer within " + std::to_string(timeout_.count()) + " ms");
                return std::nullopt;
            }
        } else {
            fail(error, std::string("recv: ") + std::strerror(errno));
            return std::nullopt;
        }
    }
}

std::optional<nlohmann::json> HostClient::request(const nlohmann::json& message,
                                                  std::string* error) {
    const auto line = message.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    const bool reused = fd_ >= 0;
    if (!reused && !connect(error)) {
        return std::nullopt;
    }
    if (auto answer = exchange(line, error)) {
        return answer;
    }
    disconnect();
    // Only a connection the host dropped is worth one more try: a slow host may still act on
    // the line it has.
    if (!reused || timedOut_ || !connect(error)) {
        return std::nullopt;
    }
    auto answer = exchange(line, error);
    if (!answer) {
        disconnect();
    }
    return answer;
}

} // namespace phone::widget

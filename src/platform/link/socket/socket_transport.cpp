#include "platform/link/socket/socket_transport.hpp"

#include "platform/exec/fatal.hpp"
#include "platform/link/socket/reconnect_backoff.hpp"
#include "platform/values/bplist.hpp"

#include <asio/basic_socket_acceptor.hpp>
#include <asio/executor_work_guard.hpp>
#include <asio/generic/stream_protocol.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/local/stream_protocol.hpp>
#include <asio/post.hpp>
#include <asio/read.hpp>
#include <asio/steady_timer.hpp>
#include <asio/write.hpp>

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <variant>

namespace platform {

namespace {

// One type for both kinds of address, so that the connection code is written once.
using Protocol = asio::generic::stream_protocol;
using Socket = Protocol::socket;
using Acceptor = asio::basic_socket_acceptor<Protocol>;
using Endpoint = Protocol::endpoint;

using Header = std::array<std::uint8_t, 4>;

struct OutFrame {
    Header header;
    Data body;
};

struct ConnectedEvent {
    std::uint64_t connection;
};
struct FrameEvent {
    Dictionary envelope;
};
struct DisconnectedEvent {
    std::string reason;
};
using Event = std::variant<ConnectedEvent, FrameEvent, DisconnectedEvent>;

template <class... F> struct Overloaded : F... { using F::operator()...; };
template <class... F> Overloaded(F...) -> Overloaded<F...>;

Header encodeLength(std::size_t length) {
    auto n = static_cast<std::uint32_t>(length);
    return {static_cast<std::uint8_t>(n >> 24), static_cast<std::uint8_t>(n >> 16),
            static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)};
}

std::uint32_t decodeLength(const Header& header) {
    return (std::uint32_t{header[0]} << 24) | (std::uint32_t{header[1]} << 16) |
           (std::uint32_t{header[2]} << 8) | std::uint32_t{header[3]};
}

Endpoint endpointFor(const LinkAddress& address) {
    if (address.kind == LinkAddress::Kind::unixSocket) {
        return Endpoint(asio::local::stream_protocol::endpoint(address.path));
    }
    asio::error_code ignored; // checkLinkAddress has vouched for the host
    return Endpoint(
        asio::ip::tcp::endpoint(asio::ip::make_address(address.host, ignored), address.port));
}

std::optional<std::uint16_t> tcpPort(const Endpoint& endpoint) {
    const sockaddr* raw = endpoint.data();
    if (raw->sa_family == AF_INET && endpoint.size() >= sizeof(sockaddr_in)) {
        sockaddr_in in{};
        std::memcpy(&in, raw, sizeof in);
        return ntohs(in.sin_port);
    }
    if (raw->sa_family == AF_INET6 && endpoint.size() >= sizeof(sockaddr_in6)) {
        sockaddr_in6 in6{};
        std::memcpy(&in6, raw, sizeof in6);
        return ntohs(in6.sin6_port);
    }
    return std::nullopt;
}

// Identifies the socket file this transport bound, so that stopping removes it only while it is
// still ours.
struct FileIdentity {
    dev_t device;
    ino_t inode;
    bool operator==(const FileIdentity&) const = default;
};

std::optional<FileIdentity> socketFileIdentity(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode)) {
        return std::nullopt;
    }
    return FileIdentity{info.st_dev, info.st_ino};
}

} // namespace

class SocketTransport::Impl {
public:
    Impl(LinkRole role, LinkAddress address, Log& log, SocketTransportOptions options)
        : role_(role), address_(std::move(address)), addressText_(toString(address_)),
          logPrefix_(role == LinkRole::phone ? "Phone link: " : "Watch link: "),
          peerName_(role == LinkRole::phone ? "watch" : "phone"), log_(log),
          backoff_(options.firstRetryDelay, options.maxRetryDelay) {}

    void start(Events events);
    void send(const Dictionary& envelope);
    void disconnect(const std::string& reason);
    void stop();
    std::optional<std::uint16_t> localPort() const;
    bool onIoThread() { return io_.get_executor().running_in_this_thread(); }

private:
    struct Connection {
        Connection(Socket s, std::uint64_t connectionId) : socket(std::move(s)), id(connectionId) {}
        Socket socket;
        const std::uint64_t id;
        Header header{};
        Data body;
        // The front frame is the one being written; deque keeps its buffers in place meanwhile.
        std::deque<OutFrame> outbox;
        bool closed = false;
    };
    using ConnectionPtr = std::shared_ptr<Connection>;
    using Attempt = void (Impl::*)();

    // Everything below runs on the io thread, or before it starts, or after it has ended.
    void listen();
    std::optional<Acceptor> openAcceptor(std::string& problem);
    void accept();
    void connect();
    void retryLater(Attempt attempt);
    void adopt(Socket socket);
    void readHeader(ConnectionPtr connection);
    void readBody(ConnectionPtr connection);
    void enqueue(std::uint64_t connectionId, OutFrame frame);
    void writeNext(ConnectionPtr connection);
    void close(ConnectionPtr connection, std::string reason);
    std::string lossReason(const asio::error_code& error) const;
    void emit(Event event);
    void deliver(Event event);
    void closeAll();
    void removeOwnSocketFile();
    void noteFailure(const std::string& text);
    void logLine(std::string_view text) { log_.line(logPrefix_ + std::string(text)); }

    // Declared first so that it outlives every socket and timer below.
    asio::io_context io_;
    asio::executor_work_guard<asio::io_context::executor_type> work_ = asio::make_work_guard(io_);

    const LinkRole role_;
    const LinkAddress address_;
    const std::string addressText_;
    const std::string logPrefix_;
    const std::string peerName_;
    Log& log_;
    Events events_;

    ReconnectBackoff backoff_;
    asio::steady_timer retryTimer_{io_};
    std::optional<Acceptor> acceptor_;
    std::optional<FileIdentity> ownSocketFile_;
    std::optional<Socket> connecting_;
    ConnectionPtr current_;
    std::uint64_t lastConnectionId_ = 0;
    // Repeated identical failures are logged once, so that a watch waiting for its phone does not
    // fill the log.
    std::string lastFailure_;
    std::deque<Event> pending_;
    bool delivering_ = false;

    // The connection that send() and disconnect() address: set when its connected event is
    // delivered, cleared when it closes.
    std::atomic<std::uint64_t> liveConnection_{0};
    std::atomic<bool> stopping_{false};
    std::atomic<int> port_{-1};
    std::mutex threadMutex_;
    bool started_ = false;
    std::thread thread_;
};

void SocketTransport::Impl::start(Events events) {
    std::lock_guard lock(threadMutex_);
    if (started_ || stopping_) {
        return;
    }
    started_ = true;
    events_ = std::move(events);
    if (auto problem = checkLinkAddress(address_)) {
        logLine("refusing link address " + addressText_ + ": " + *problem);
        return;
    }
    // Listening here rather than on the io thread lets the caller read localPort() at once.
    if (role_ == LinkRole::phone) {
        listen();
    } else {
        connect();
    }
    thread_ = std::thread([this] { io_.run(); });
}

void SocketTransport::Impl::send(const Dictionary& envelope) {
    auto connectionId = liveConnection_.load();
    if (connectionId == 0 || stopping_) {
        return;
    }
    auto body = encodeBinaryPlist(Value(envelope));
    if (!body) {
        logLine("dropped an envelope that is not a property list");
        return;
    }
    if (body->size() > maxLinkFrameLength) {
        logLine("dropped an envelope of " + std::to_string(body->size()) +
                " bytes, more than a frame may carry");
        return;
    }
    OutFrame frame{encodeLength(body->size()), std::move(*body)};
    // Posted even from the io thread, so that frames keep the order in which send() was called.
    asio::post(io_, [this, connectionId, frame = std::move(frame)]() mutable {
        enqueue(connectionId, std::move(frame));
    });
}

void SocketTransport::Impl::disconnect(const std::string& reason) {
    auto connectionId = liveConnection_.load();
    if (connectionId == 0) {
        return;
    }
    auto task = [this, connectionId, reason] {
        if (current_ && current_->id == connectionId) {
            close(current_, reason);
        }
    };
    // From a callback, at once: no further frame of that connection may arrive after the call.
    if (onIoThread()) {
        task();
    } else {
        asio::post(io_, std::move(task));
    }
}

void SocketTransport::Impl::stop() {
    stopping_ = true;
    io_.stop();
    if (onIoThread()) {
        // A callback cannot join its own thread; run() returns once the callback does.
        closeAll();
        return;
    }
    std::lock_guard lock(threadMutex_);
    if (thread_.joinable()) {
        thread_.join();
    }
    closeAll();
}

std::optional<std::uint16_t> SocketTransport::Impl::localPort() const {
    int port = port_.load();
    if (port < 0) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(port);
}

void SocketTransport::Impl::listen() {
    std::string problem;
    auto acceptor = openAcceptor(problem);
    if (!acceptor) {
        noteFailure("cannot listen on " + addressText_ + ": " + problem + "; retrying");
        retryLater(&Impl::listen);
        return;
    }
    acceptor_ = std::move(acceptor);
    backoff_.reset();
    lastFailure_.clear();
    auto where = address_;
    if (auto port = localPort()) {
        where.port = *port;
    }
    logLine("listening on " + toString(where));
    accept();
}

std::optional<Acceptor> SocketTransport::Impl::openAcceptor(std::string& problem) {
    bool unixSocket = address_.kind == LinkAddress::Kind::unixSocket;
    if (unixSocket) {
        struct stat info {};
        if (::lstat(address_.path.c_str(), &info) == 0) {
            // Only a socket is a leftover of an earlier run; any other file is someone's data.
            if (!S_ISSOCK(info.st_mode)) {
                problem = "the path exists and is not a socket";
                return std::nullopt;
            }
            if (::unlink(address_.path.c_str()) != 0 && errno != ENOENT) {
                problem =
                    std::string("cannot remove the stale socket file: ") + std::strerror(errno);
                return std::nullopt;
            }
            logLine("removed the stale socket file " + address_.path);
        }
    }
    auto endpoint = endpointFor(address_);
    Acceptor acceptor(io_);
    asio::error_code error;
    acceptor.open(endpoint.protocol(), error);
    if (!error && !unixSocket) {
        // A restarted phone must not wait for the previous run's connections to leave TIME_WAIT.
        acceptor.set_option(asio::socket_base::reuse_address(true), error);
    }
    if (!error) {
        acceptor.bind(endpoint, error);
        if (!error && unixSocket) {
            ownSocketFile_ = socketFileIdentity(address_.path);
        }
    }
    if (!error) {
        acceptor.listen(asio::socket_base::max_listen_connections, error);
    }
    if (!error && !unixSocket) {
        if (auto port = tcpPort(acceptor.local_endpoint(error))) {
            port_ = *port;
        }
    }
    if (error) {
        problem = error.message();
        asio::error_code ignored;
        acceptor.close(ignored);
        removeOwnSocketFile();
        return std::nullopt;
    }
    return acceptor;
}

void SocketTransport::Impl::accept() {
    acceptor_->async_accept([this](const asio::error_code& error, Socket socket) {
        if (stopping_ || error == asio::error::operation_aborted) {
            return;
        }
        if (error) {
            // Out of descriptors, typically: accepting again at once would only spin.
            noteFailure("cannot accept a connection: " + error.message() + "; retrying");
            retryLater(&Impl::accept);
            return;
        }
        backoff_.reset();
        lastFailure_.clear();
        adopt(std::move(socket));
        // A callback may have stopped the transport, and with it the acceptor.
        if (!stopping_) {
            accept();
        }
    });
}

void SocketTransport::Impl::connect() {
    connecting_.emplace(io_);
    connecting_->async_connect(endpointFor(address_), [this](asio::error_code error) {
        if (stopping_ || error == asio::error::operation_aborted) {
            return;
        }
        Socket socket = std::move(*connecting_);
        connecting_.reset();
        if (!error) {
            // A TCP client aimed at an unused port of the ephemeral range can connect to itself.
            asio::error_code localError;
            asio::error_code remoteError;
            auto local = socket.local_endpoint(localError);
            auto remote = socket.remote_endpoint(remoteError);
            if (!localError && !remoteError && local == remote) {
                error = asio::error::connection_refused;
            }
        }
        if (error) {
            asio::error_code ignored;
            socket.close(ignored);
            noteFailure("cannot connect to " + addressText_ + ": " + error.message() +
                        "; retrying");
            retryLater(&Impl::connect);
            return;
        }
        backoff_.reset();
        lastFailure_.clear();
        adopt(std::move(socket));
    });
}

void SocketTransport::Impl::retryLater(Attempt attempt) {
    retryTimer_.expires_after(backoff_.next());
    retryTimer_.async_wait([this, attempt](const asio::error_code& error) {
        if (!error && !stopping_) {
            (this->*attempt)();
        }
    });
}

void SocketTransport::Impl::adopt(Socket socket) {
    if (address_.kind == LinkAddress::Kind::tcp) {
        // Envelopes are small and answered at once; batching them would only add latency.
        asio::error_code ignored;
        socket.set_option(asio::ip::tcp::no_delay(true), ignored);
    }
    if (current_) {
        close(current_, "replaced by a newer " + peerName_ + " connection");
    }
    auto connection = std::make_shared<Connection>(std::move(socket), ++lastConnectionId_);
    current_ = connection;
    logLine(role_ == LinkRole::phone ? "accepted a watch connection"
                                     : "connected to the phone at " + addressText_);
    emit(ConnectedEvent{connection->id});
    if (!connection->closed) {
        readHeader(connection);
    }
}

void SocketTransport::Impl::readHeader(ConnectionPtr connection) {
    // Taken before the call: the handler's capture moves the pointer away.
    auto& socket = connection->socket;
    auto& header = connection->header;
    asio::async_read(
        socket, asio::buffer(header),
        [this, connection = std::move(connection)](const asio::error_code& error, std::size_t) {
            if (connection->closed) {
                return;
            }
            if (error) {
                close(connection, lossReason(error));
                return;
            }
            auto length = decodeLength(connection->header);
            if (length < 1 || length > maxLinkFrameLength) {
                close(connection, "protocol error: frame length " + std::to_string(length) +
                                      " is out of range (1 to " +
                                      std::to_string(maxLinkFrameLength) + ")");
                return;
            }
            connection->body.resize(length);
            readBody(connection);
        });
}

void SocketTransport::Impl::readBody(ConnectionPtr connection) {
    auto& socket = connection->socket;
    auto& body = connection->body;
    asio::async_read(
        socket, asio::buffer(body),
        [this, connection = std::move(connection)](const asio::error_code& error, std::size_t) {
            if (connection->closed) {
                return;
            }
            if (error) {
                close(connection, lossReason(error));
                return;
            }
            auto value = decodeBinaryPlist(connection->body);
            // Frees a large frame's buffer now rather than at the next large frame.
            Data().swap(connection->body);
            if (!value) {
                close(connection, "protocol error: the frame is not a binary property list");
                return;
            }
            auto* envelope = value->get<Dictionary>();
            if (!envelope) {
                close(connection, "protocol error: the frame's root is not a dictionary (found " +
                                      std::string(kindName(value->kind())) + ")");
                return;
            }
            emit(FrameEvent{std::move(*envelope)});
            if (!connection->closed) {
                readHeader(connection);
            }
        });
}

void SocketTransport::Impl::enqueue(std::uint64_t connectionId, OutFrame frame) {
    if (!current_ || current_->id != connectionId || current_->closed) {
        return;
    }
    current_->outbox.push_back(std::move(frame));
    if (current_->outbox.size() == 1) {
        writeNext(current_);
    }
}

void SocketTransport::Impl::writeNext(ConnectionPtr connection) {
    const auto& frame = connection->outbox.front();
    std::array<asio::const_buffer, 2> buffers{asio::buffer(frame.header), asio::buffer(frame.body)};
    auto& socket = connection->socket;
    asio::async_write(
        socket, buffers,
        [this, connection = std::move(connection)](const asio::error_code& error, std::size_t) {
            if (connection->closed) {
                return;
            }
            if (error) {
                close(connection, lossReason(error));
                return;
            }
            connection->outbox.pop_front();
            if (!connection->outbox.empty()) {
                writeNext(connection);
            }
        });
}

void SocketTransport::Impl::close(ConnectionPtr connection, std::string reason) {
    if (connection->closed) {
        return;
    }
    connection->closed = true;
    asio::error_code ignored;
    connection->socket.close(ignored);
    if (current_ == connection) {
        current_.reset();
    }
    auto expected = connection->id;
    liveConnection_.compare_exchange_strong(expected, 0);
    logLine("disconnected from the " + peerName_ + ": " + reason);
    emit(DisconnectedEvent{std::move(reason)});
    if (role_ == LinkRole::watch && !stopping_ && !current_) {
        retryLater(&Impl::connect);
    }
}

std::string SocketTransport::Impl::lossReason(const asio::error_code& error) const {
    if (error == asio::error::eof) {
        return "the " + peerName_ + " closed the connection";
    }
    return "connection error: " + error.message();
}

void SocketTransport::Impl::emit(Event event) {
    pending_.push_back(std::move(event));
    // An event raised by a callback waits for that callback to return.
    if (delivering_) {
        return;
    }
    delivering_ = true;
    while (!pending_.empty() && !stopping_) {
        Event next = std::move(pending_.front());
        pending_.pop_front();
        deliver(std::move(next));
    }
    delivering_ = false;
}

void SocketTransport::Impl::deliver(Event event) {
    std::visit(Overloaded{
                   [this](ConnectedEvent& connected) {
                       bool live = current_ && current_->id == connected.connection;
                       liveConnection_ = live ? connected.connection : 0;
                       if (events_.connected) {
                           events_.connected();
                       }
                   },
                   [this](FrameEvent& frame) {
                       if (events_.frame) {
                           events_.frame(std::move(frame.envelope));
                       }
                   },
                   [this](DisconnectedEvent& disconnected) {
                       if (events_.disconnected) {
                           events_.disconnected(std::move(disconnected.reason));
                       }
                   },
               },
               event);
}

void SocketTransport::Impl::closeAll() {
    asio::error_code ignored;
    retryTimer_.cancel();
    if (connecting_) {
        connecting_->close(ignored);
        connecting_.reset();
    }
    if (current_) {
        auto connection = std::move(current_);
        connection->closed = true;
        connection->socket.close(ignored);
    }
    liveConnection_ = 0;
    if (acceptor_) {
        acceptor_->close(ignored);
        acceptor_.reset();
    }
    port_ = -1;
    removeOwnSocketFile();
}

void SocketTransport::Impl::removeOwnSocketFile() {
    if (ownSocketFile_ && socketFileIdentity(address_.path) == ownSocketFile_) {
        ::unlink(address_.path.c_str());
    }
    ownSocketFile_.reset();
}

void SocketTransport::Impl::noteFailure(const std::string& text) {
    if (text != lastFailure_) {
        logLine(text);
        lastFailure_ = text;
    }
}

SocketTransport::SocketTransport(LinkRole role, LinkAddress address, Log& log,
                                 SocketTransportOptions options)
    : impl_(std::make_unique<Impl>(role, std::move(address), log, options)) {}

SocketTransport::~SocketTransport() {
    if (impl_->onIoThread()) {
        detail::fatal("SocketTransport destroyed by one of its own event callbacks");
    }
    impl_->stop();
}

void SocketTransport::start(Events events) {
    impl_->start(std::move(events));
}

void SocketTransport::send(const Dictionary& envelope) {
    impl_->send(envelope);
}

void SocketTransport::disconnect(const std::string& reason) {
    impl_->disconnect(reason);
}

void SocketTransport::stop() {
    impl_->stop();
}

std::optional<std::uint16_t> SocketTransport::localPort() const {
    return impl_->localPort();
}

} // namespace platform

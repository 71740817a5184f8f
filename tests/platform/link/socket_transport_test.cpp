#include "platform/files/temp_directory.hpp"
#include "platform/link/socket/reconnect_backoff.hpp"
#include "platform/link/socket/socket_transport.hpp"
#include "platform/values/bplist.hpp"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <poll.h>
#include <sys/un.h>
#include <unistd.h>

#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>

using namespace std::chrono_literals;
using platform::Data;
using platform::Dictionary;
using platform::LinkAddress;
using platform::LinkRole;
using platform::SocketTransport;
using platform::Value;

namespace {

// A broken transport fails the test instead of hanging it; a slow machine still passes.
constexpr auto patience = 20s;

enum class Kind { connected, frame, disconnected };

struct Event {
    Kind kind;
    Dictionary envelope;
    std::string reason;
};

// Keeps a transport's events, which arrive on its own thread, for the test thread.
class Recorder {
public:
    platform::FrameTransport::Events events() {
        platform::FrameTransport::Events events;
        events.connected = [this] { record({Kind::connected, {}, {}}); };
        events.frame = [this](Dictionary e) { record({Kind::frame, std::move(e), {}}); };
        events.disconnected = [this](std::string r) { record({Kind::disconnected, {}, r}); };
        return events;
    }

    // The next event, when it comes in time and is of that kind.
    std::optional<Event> next(Kind kind) {
        std::unique_lock lock(mutex_);
        if (!arrived_.wait_for(lock, patience, [&] { return !events_.empty(); })) {
            ADD_FAILURE() << "no event within the time allowed";
            return std::nullopt;
        }
        Event event = std::move(events_.front());
        events_.pop_front();
        if (event.kind != kind) {
            ADD_FAILURE() << "an event of another kind " << event.reason;
            return std::nullopt;
        }
        return event;
    }
    std::optional<Dictionary> nextFrame() {
        auto event = next(Kind::frame);
        return event ? std::optional(event->envelope) : std::nullopt;
    }

private:
    void record(Event event) {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
        arrived_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<Event> events_;
};

Dictionary message(std::int64_t n, std::size_t padding = 0) {
    return {{"kind", "message"}, {"id", "m" + std::to_string(n)}, {"padding", Data(padding, 7)}};
}

Data framed(const Data& body) {
    // Reserved up front: growing the prefix in place trips a false array-bounds warning in GCC 12.
    Data bytes;
    bytes.reserve(4 + body.size());
    for (int shift = 24; shift >= 0; shift -= 8) {
        bytes.push_back(static_cast<std::uint8_t>(body.size() >> shift));
    }
    bytes.insert(bytes.end(), body.begin(), body.end());
    return bytes;
}

// A length prefix announcing `length` bytes, with no body.
Data announcing(std::uint32_t length) {
    return {static_cast<std::uint8_t>(length >> 24), static_cast<std::uint8_t>(length >> 16),
            static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)};
}

// A watch written against the wire format alone, with plain POSIX sockets.
class RawClient {
public:
    explicit RawClient(const LinkAddress& address) {
        sockaddr_storage storage{};
        auto* un = reinterpret_cast<sockaddr_un*>(&storage);
        auto* in = reinterpret_cast<sockaddr_in*>(&storage);
        if (address.kind == LinkAddress::Kind::unixSocket) {
            un->sun_family = AF_UNIX;
            std::strncpy(un->sun_path, address.path.c_str(), sizeof un->sun_path - 1);
        } else {
            in->sin_family = AF_INET;
            in->sin_port = htons(address.port);
            ::inet_pton(AF_INET, address.host.c_str(), &in->sin_addr);
        }
        fd_ = ::socket(storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        EXPECT_EQ(::connect(fd_, reinterpret_cast<sockaddr*>(&storage),
                            storage.ss_family == AF_UNIX ? sizeof *un : sizeof *in),
                  0);
    }
    ~RawClient() { ::close(fd_); }

    bool send(const Data& bytes) {
        return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size());
    }

    // True once the other end has closed the connection; whatever arrives first is dropped.
    bool closedByPeer() {
        pollfd entry{fd_, POLLIN, 0};
        std::vector<std::uint8_t> scratch(65536);
        while (::poll(&entry, 1, static_cast<int>(std::chrono::milliseconds(patience).count())) >
               0) {
            auto n = ::recv(fd_, scratch.data(), scratch.size(), 0);
            if (n == 0 || (n < 0 && errno == ECONNRESET)) {
                return true;
            }
        }
        return false;
    }

private:
    int fd_ = -1;
};

// Phone and watch transports in one process, over either kind of socket.
class SocketTransportTest : public testing::TestWithParam<LinkAddress::Kind> {
protected:
    bool tcp() const { return GetParam() == LinkAddress::Kind::tcp; }

    // The watch finds a phone that listens on a port the system picked in `address`.
    std::unique_ptr<SocketTransport> start(LinkRole role, Recorder& events) {
        auto transport = std::make_unique<SocketTransport>(role, address, log);
        transport->start(events.events());
        if (tcp() && role == LinkRole::phone) {
            address.port = transport->localPort().value_or(0);
        }
        return transport;
    }

    platform::testing::TempDirectory dir;
    LinkAddress address =
        platform::parseLinkAddress(tcp() ? "tcp:127.0.0.1:0"
                                         : "unix:" + (dir.path() / "link.sock").string())
            .value();
    platform::MemoryLog log;
    // Declared before the transports of each test, so that they outlive them.
    Recorder phoneEvents;
    Recorder watchEvents;
};

TEST_P(SocketTransportTest, FramesArriveWholeAndInOrderAndTheWatchReconnectsToARecreatedPhone) {
    // Before the transports, so that it outlives their last events.
    Recorder secondPhoneEvents;
    auto phone = start(LinkRole::phone, phoneEvents);
    auto watch = start(LinkRole::watch, watchEvents);
    ASSERT_TRUE(phoneEvents.next(Kind::connected));
    ASSERT_TRUE(watchEvents.next(Kind::connected));
    // Large frames take several writes each: they must neither split nor mix.
    auto large = [](int n) { return message(n, n == 50 ? 1 << 20 : std::size_t(n) * 977); };
    for (int n = 0; n < 100; ++n) {
        watch->send(large(n));
        phone->send(message(n));
    }
    for (int n = 0; n < 100; ++n) {
        EXPECT_TRUE(phoneEvents.nextFrame() == large(n)) << n;
        EXPECT_EQ(watchEvents.nextFrame(), message(n));
    }

    phone.reset();
    ASSERT_TRUE(watchEvents.next(Kind::disconnected));
    EXPECT_TRUE(tcp() || !std::filesystem::exists(address.path)) << "the socket file stayed";
    // Nothing carries this frame: it must not turn up on the next connection.
    watch->send(message(1));
    phone = start(LinkRole::phone, secondPhoneEvents);
    ASSERT_TRUE(secondPhoneEvents.next(Kind::connected));
    ASSERT_TRUE(watchEvents.next(Kind::connected));
    watch->send(message(2));
    EXPECT_EQ(secondPhoneEvents.nextFrame(), message(2));
}

TEST_P(SocketTransportTest, BadFramesCloseTheirConnectionAndTheNewestOfTheRestIsServed) {
    auto phone = start(LinkRole::phone, phoneEvents);
    auto truncated = platform::encodeBinaryPlist(Value(message(1))).value();
    truncated.resize(truncated.size() - 6);
    const std::vector<std::pair<Data, std::string>> cases{
        {announcing(0), "frame length 0 is out of range"},
        {announcing(platform::maxLinkFrameLength + 1), "frame length 67108865 is out of range"},
        {announcing(0xFFFFFFFFu), "frame length 4294967295 is out of range"},
        {framed(Data{'n', 'o', 't', ' ', 'a', ' ', 'p', 'l', 'i', 's', 't'}),
         "not a binary property list"},
        {framed(truncated), "not a binary property list"},
        {framed(*platform::encodeBinaryPlist(platform::Array{1})), "root is not a dictionary"},
    };
    for (const auto& [bytes, reason] : cases) {
        RawClient client(address);
        ASSERT_TRUE(phoneEvents.next(Kind::connected));
        ASSERT_TRUE(client.send(bytes));
        auto closed = phoneEvents.next(Kind::disconnected);
        ASSERT_TRUE(closed);
        EXPECT_NE(closed->reason.find(reason), std::string::npos) << closed->reason;
        EXPECT_TRUE(client.closedByPeer());
    }

    RawClient older(address);
    ASSERT_TRUE(phoneEvents.next(Kind::connected));
    RawClient newer(address);
    ASSERT_TRUE(phoneEvents.next(Kind::disconnected));
    ASSERT_TRUE(phoneEvents.next(Kind::connected));
    EXPECT_TRUE(older.closedByPeer());
    if (tcp()) {
        return; // the rest is the same code whatever the socket, and slow
    }
    // A frame of exactly the largest length is fine.
    std::size_t padding = platform::maxLinkFrameLength - 4096;
    padding += platform::maxLinkFrameLength -
               platform::encodeBinaryPlist(Value(message(7, padding)))->size();
    ASSERT_TRUE(newer.send(framed(*platform::encodeBinaryPlist(Value(message(7, padding))))));
    auto frame = phoneEvents.nextFrame();
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->at("padding").data()->size(), padding);
}

INSTANTIATE_TEST_SUITE_P(Sockets, SocketTransportTest,
                         testing::Values(LinkAddress::Kind::unixSocket, LinkAddress::Kind::tcp),
                         [](const auto& kind) {
                             return kind.param == LinkAddress::Kind::tcp ? "Tcp" : "Unix";
                         });

TEST(UnixSocketFileTest, AStaleSocketFileIsReplacedAndAnyOtherFileLeftAlone) {
    platform::testing::TempDirectory dir;
    platform::MemoryLog log;
    Recorder events;
    const auto other = dir.path() / "data";
    platform::testing::TempDirectory::writeText(other, "keep me");
    SocketTransport(LinkRole::phone, platform::parseLinkAddress("unix:" + other.string()).value(),
                    log)
        .start(events.events());
    EXPECT_TRUE(log.contains("is not a socket"));
    EXPECT_EQ(platform::testing::TempDirectory::readText(other), "keep me");

    // A socket file whose listener is gone, as a crashed phone leaves it.
    const auto address =
        platform::parseLinkAddress("unix:" + (dir.path() / "link.sock").string()).value();
    sockaddr_un un{AF_UNIX, {}};
    std::strncpy(un.sun_path, address.path.c_str(), sizeof un.sun_path - 1);
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&un), sizeof un), 0);
    ::close(fd);
    SocketTransport phone(LinkRole::phone, address, log);
    phone.start(events.events());
    EXPECT_TRUE(log.contains("removed the stale socket file"));
    RawClient client(address);
    EXPECT_TRUE(events.next(Kind::connected));
}

TEST(LinkAddressTest, ReadsUnixAndLoopbackAddressesOnly) {
    for (auto [text, canonical] : {std::pair("unix:/tmp/a:b", "unix:/tmp/a:b"),
                                   {"tcp:LocalHost:7400", "tcp:127.0.0.1:7400"},
                                   {"tcp:127.255.3.4:65535", "tcp:127.255.3.4:65535"},
                                   {"tcp:[0:0:0:0:0:0:0:1]:0", "tcp:[::1]:0"}}) {
        auto parsed = platform::parseLinkAddress(text);
        ASSERT_TRUE(parsed) << text;
        EXPECT_EQ(platform::toString(*parsed), canonical);
        EXPECT_EQ(platform::parseLinkAddress(canonical), parsed);
    }
    for (auto [text, reason] :
         {std::pair<std::string, std::string>("unix:", "needs a socket path"),
          {"unix:/" + std::string(200, 'x'), "longer than 107 bytes"},
          {"tcp:127.0.0.1:65536", "is not a number from 0 to 65535"},
          {"tcp:[::1:7400", "expected tcp:[HOST]:PORT"},
          {"tcp:10.0.0.5:7400", "host \"10.0.0.5\" is not a loopback address"},
          {"tcp:0.0.0.0:7400", "not a loopback address"},
          {"tcp:[::ffff:127.0.0.1]:7400", "not a loopback address"}}) {
        std::string error;
        EXPECT_FALSE(platform::parseLinkAddress(text, &error)) << text;
        EXPECT_NE(error.find(reason), std::string::npos) << error;
    }
    // One built by hand is checked where it is used.
    platform::MemoryLog log;
    Recorder events;
    SocketTransport watch(LinkRole::watch, {LinkAddress::Kind::tcp, {}, "192.0.2.1", 7400}, log);
    watch.start(events.events());
    EXPECT_TRUE(log.contains("refusing link address tcp:192.0.2.1:7400"));
}

TEST(ReconnectBackoffTest, DoublesUpToTheCapAndStartsOverAfterASuccess) {
    platform::ReconnectBackoff backoff(100ms, 700ms);
    std::vector<std::chrono::milliseconds> delays;
    for (int i = 0; i < 6; ++i) {
        if (i == 5) {
            backoff.reset();
        }
        delays.push_back(backoff.next());
    }
    EXPECT_EQ(delays, (decltype(delays){100ms, 200ms, 400ms, 700ms, 700ms, 100ms}));
}

} // namespace

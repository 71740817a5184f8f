#include "platform/files/temp_directory.hpp"
#include "platform/link/socket/socket_transport.hpp"
#include "platform/values/bplist.hpp"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
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
using platform::testing::TempDirectory;

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
        return {[this] {
                    record({Kind::connected, {}, {}});
                },
                [this](Dictionary e) {
                    record({Kind::frame, std::move(e), {}});
                },
                [this](std::string r) {
                    record({Kind::disconnected, {}, std::move(r)});
                }};
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
        EXPECT_EQ(event.kind, kind) << event.reason;
        return event.kind == kind ? std::optional(std::move(event)) : std::nullopt;
    }
    Dictionary nextFrame() {
        auto event = next(Kind::frame);
        return event ? event->envelope : Dictionary{};
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

// A length prefix announcing `length` bytes (by default the body's), then `body`.
Data framed(const Data& body, std::optional<std::size_t> announced = std::nullopt) {
    const auto length = announced.value_or(body.size());
    Data bytes{std::uint8_t(length >> 24), std::uint8_t(length >> 16), std::uint8_t(length >> 8),
               std::uint8_t(length)};
    bytes.reserve(4 + body.size()); // growing in place trips a false warning in GCC 12
    bytes.insert(bytes.end(), body.begin(), body.end());
    return bytes;
}

// A watch written against the wire format alone, with plain POSIX sockets.
class RawClient {
public:
    explicit RawClient(const std::string& path) : fd_(::socket(AF_UNIX, SOCK_STREAM, 0)) {
        sockaddr_un un{AF_UNIX, {}};
        std::strncpy(un.sun_path, path.c_str(), sizeof un.sun_path - 1);
        EXPECT_EQ(::connect(fd_, reinterpret_cast<sockaddr*>(&un), sizeof un), 0);
    }
    ~RawClient() { ::close(fd_); }

    bool send(const Data& bytes) {
        return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size());
    }
    // True once the other end has closed the connection; whatever arrives first is dropped.
    bool closedByPeer() {
        pollfd entry{fd_, POLLIN, 0};
        std::vector<std::uint8_t> scratch(65536);
        while (::poll(&entry, 1, int(std::chrono::milliseconds(patience).count())) > 0) {
            auto n = ::recv(fd_, scratch.data(), scratch.size(), 0);
            if (n == 0 || (n < 0 && errno == ECONNRESET)) {
                return true;
            }
        }
        return false;
    }

private:
    int fd_;
};

LinkAddress unixAddress(const TempDirectory& dir) {
    return platform::parseLinkAddress("unix:" + (dir.path() / "link.sock").string()).value();
}

// The program's processes talk over a Unix socket in the process tests; this is the other kind.
TEST(SocketTransportTest, LargeFramesArriveWholeAndInOrderBothWaysOverLoopbackTcp) {
    platform::MemoryLog log;
    Recorder phoneEvents, watchEvents; // before the transports: they outlive their last events
    auto address = platform::parseLinkAddress("tcp:127.0.0.1:0").value();
    SocketTransport phone(LinkRole::phone, address, log);
    phone.start(phoneEvents.events());
    address.port = phone.localPort().value_or(0); // the port the system picked
    SocketTransport watch(LinkRole::watch, address, log);
    watch.start(watchEvents.events());
    ASSERT_TRUE(phoneEvents.next(Kind::connected));
    ASSERT_TRUE(watchEvents.next(Kind::connected));
    // Large frames take several writes each: they must neither split nor mix.
    auto large = [](int n) { return message(n, n == 50 ? 1 << 20 : std::size_t(n) * 977); };
    for (int n = 0; n < 100; ++n) {
        watch.send(large(n));
        phone.send(large(n));
    }
    for (int n = 0; n < 100; ++n) {
        EXPECT_TRUE(phoneEvents.nextFrame() == large(n)) << n;
        EXPECT_TRUE(watchEvents.nextFrame() == large(n)) << n;
    }
}

// The framing is the same code whatever the socket.
TEST(SocketFramingTest, BadFramesCloseTheirConnectionAndTheNewestOfTheRestIsServed) {
    TempDirectory dir;
    platform::MemoryLog log;
    Recorder events;
    const auto address = unixAddress(dir);
    SocketTransport phone(LinkRole::phone, address, log);
    phone.start(events.events());
    auto truncated = platform::encodeBinaryPlist(Value(message(1))).value();
    truncated.resize(truncated.size() - 6);
    for (const auto& bytes :
         {framed({}), framed({}, platform::maxLinkFrameLength + 1), framed({}, 0xFFFFFFFFu),
          framed(Data{'n', 'o', 't'}), framed(truncated),
          framed(*platform::encodeBinaryPlist(platform::Array{1}))}) {
        RawClient client(address.path);
        ASSERT_TRUE(events.next(Kind::connected));
        ASSERT_TRUE(client.send(bytes));
        ASSERT_TRUE(events.next(Kind::disconnected));
        EXPECT_TRUE(client.closedByPeer());
    }

    RawClient older(address.path);
    ASSERT_TRUE(events.next(Kind::connected));
    RawClient newer(address.path);
    ASSERT_TRUE(events.next(Kind::disconnected));
    ASSERT_TRUE(events.next(Kind::connected));
    EXPECT_TRUE(older.closedByPeer());
    // A frame of exactly the largest length is fine.
    std::size_t padding = platform::maxLinkFrameLength - 4096;
    padding += platform::maxLinkFrameLength -
               platform::encodeBinaryPlist(Value(message(7, padding)))->size();
    ASSERT_TRUE(newer.send(framed(*platform::encodeBinaryPlist(Value(message(7, padding))))));
    EXPECT_EQ(events.nextFrame().at("padding").data()->size(), padding);
}

TEST(UnixSocketFileTest, AStaleSocketFileIsReplacedAndAnyOtherFileLeftAlone) {
    TempDirectory dir;
    platform::MemoryLog log;
    Recorder events;
    const auto other = dir.path() / "data";
    TempDirectory::writeText(other, "keep me");
    SocketTransport(LinkRole::phone, platform::parseLinkAddress("unix:" + other.string()).value(),
                    log)
        .start(events.events());
    EXPECT_TRUE(log.contains("is not a socket"));
    EXPECT_EQ(TempDirectory::readText(other), "keep me");

    // A socket file whose listener is gone, as a crashed phone leaves it.
    const auto address = unixAddress(dir);
    sockaddr_un un{AF_UNIX, {}};
    std::strncpy(un.sun_path, address.path.c_str(), sizeof un.sun_path - 1);
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&un), sizeof un), 0);
    ::close(fd);
    SocketTransport phone(LinkRole::phone, address, log);
    phone.start(events.events());
    EXPECT_TRUE(log.contains("removed the stale socket file"));
    RawClient client(address.path);
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
    for (std::string text : std::vector<std::string>{
             "unix:", "unix:/" + std::string(200, 'x'), "tcp:127.0.0.1:65536", "tcp:[::1:7400",
             "tcp:10.0.0.5:7400", "tcp:0.0.0.0:7400", "tcp:[::ffff:127.0.0.1]:7400"}) {
        EXPECT_FALSE(platform::parseLinkAddress(text)) << text;
    }
    // One built by hand is checked where it is used.
    platform::MemoryLog log;
    Recorder events;
    SocketTransport watch(LinkRole::watch, {LinkAddress::Kind::tcp, {}, "192.0.2.1", 7400}, log);
    watch.start(events.events());
    EXPECT_TRUE(log.contains("refusing link address tcp:192.0.2.1:7400"));
}

} // namespace

#include "platform/link/socket/socket_transport.hpp"
#include "platform/values/bplist.hpp"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <latch>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <span>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

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

// ---- What a transport reports

enum class Kind { connected, frame, disconnected };

struct Event {
    Kind kind = Kind::connected;
    Dictionary envelope;
    std::string reason;
};

std::string_view name(Kind kind) {
    switch (kind) {
    case Kind::connected:
        return "connected";
    case Kind::frame:
        return "frame";
    case Kind::disconnected:
        return "disconnected";
    }
    return "?";
}

std::string describe(const Event& event) {
    std::string text(name(event.kind));
    if (event.kind == Kind::frame) {
        auto kind = event.envelope.find("kind");
        text += " of kind " + (kind != event.envelope.end() ? platform::describe(kind->second)
                                                            : std::string("(none)"));
    }
    if (event.kind == Kind::disconnected) {
        text += " (" + event.reason + ")";
    }
    return text;
}

// Keeps a transport's events for the test thread, and notes any breach of the delivery rules.
class Recorder {
public:
    platform::FrameTransport::Events events() {
        return {
            [this] {
                record(Event{Kind::connected, {}, {}});
            },
            [this](Dictionary envelope) {
                record(Event{Kind::frame, std::move(envelope), {}});
            },
            [this](std::string reason) {
                record(Event{Kind::disconnected, {}, std::move(reason)});
            },
        };
    }

    std::optional<Event> next() {
        std::unique_lock lock(mutex_);
        if (!arrived_.wait_for(lock, patience, [&] { return !events_.empty(); })) {
            return std::nullopt;
        }
        Event event = std::move(events_.front());
        events_.pop_front();
        return event;
    }

    // Runs inside each callback, after the event is recorded; set before the transport starts.
    void onEvent(std::function<void(const Event&)> reaction) { reaction_ = std::move(reaction); }

    void markStopped() { stopped_ = true; }
    bool eventAfterStop() const { return late_; }
    bool overlapped() const { return overlapped_; }
    std::set<std::thread::id> threads() const {
        std::lock_guard lock(mutex_);
        return threads_;
    }

private:
    void record(const Event& event) {
        if (busy_.exchange(true)) {
            overlapped_ = true;
        }
        if (stopped_) {
            late_ = true;
        }
        {
            std::lock_guard lock(mutex_);
            threads_.insert(std::this_thread::get_id());
            events_.push_back(event);
        }
        arrived_.notify_all();
        if (reaction_) {
            reaction_(event);
        }
        busy_ = false;
    }

    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<Event> events_;
    std::set<std::thread::id> threads_;
    std::function<void(const Event&)> reaction_;
    std::atomic<bool> busy_{false};
    std::atomic<bool> overlapped_{false};
    std::atomic<bool> stopped_{false};
    std::atomic<bool> late_{false};
};

testing::AssertionResult nextIs(Recorder& recorder, Kind kind, Event* out = nullptr) {
    auto event = recorder.next();
    if (!event) {
        return testing::AssertionFailure()
               << "no event within the time allowed, expected " << name(kind);
    }
    if (event->kind != kind) {
        return testing::AssertionFailure()
               << "expected " << name(kind) << ", got " << describe(*event);
    }
    if (out) {
        *out = std::move(*event);
    }
    return testing::AssertionSuccess();
}

// A log that the test can wait on.
class WaitingLog final : public platform::Log {
public:
    void line(std::string_view text) override {
        {
            std::lock_guard lock(mutex_);
            lines_.emplace_back(text);
        }
        added_.notify_all();
    }

    bool contains(std::string_view fragment) const {
        std::lock_guard lock(mutex_);
        return containsLocked(fragment);
    }

    bool waitFor(std::string_view fragment) {
        std::unique_lock lock(mutex_);
        return added_.wait_for(lock, patience, [&] { return containsLocked(fragment); });
    }

    std::string text() const {
        std::lock_guard lock(mutex_);
        std::string all;
        for (const auto& line : lines_) {
            all += line + "\n";
        }
        return all;
    }

private:
    bool containsLocked(std::string_view fragment) const {
        for (const auto& line : lines_) {
            if (line.find(fragment) != std::string::npos) {
                return true;
            }
        }
        return false;
    }

    mutable std::mutex mutex_;
    std::condition_variable added_;
    std::vector<std::string> lines_;
};

// ---- Envelopes and raw frames

Dictionary message(std::int64_t sequence) {
    return Dictionary{{"kind", "message"},
                      {"id", "m" + std::to_string(sequence)},
                      {"body", Dictionary{{"sequence", sequence}}},
                      {"replyExpected", false}};
}

Data patterned(std::size_t size, std::uint8_t seed) {
    Data bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>((i * 31 + seed) % 251);
    }
    return bytes;
}

Data lengthPrefix(std::uint32_t length) {
    return {static_cast<std::uint8_t>(length >> 24), static_cast<std::uint8_t>(length >> 16),
            static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)};
}

Data framed(const Data& body) {
    // Reserved up front: growing the 4-byte prefix in place trips a false array-bounds
    // warning in GCC 12 at -O3.
    Data bytes;
    bytes.reserve(4 + body.size());
    auto prefix = lengthPrefix(static_cast<std::uint32_t>(body.size()));
    bytes.insert(bytes.end(), prefix.begin(), prefix.end());
    bytes.insert(bytes.end(), body.begin(), body.end());
    return bytes;
}

Data framed(const Value& root) {
    auto body = platform::encodeBinaryPlist(root);
    EXPECT_TRUE(body);
    return framed(body.value_or(Data{}));
}

// ---- A peer written against the wire format alone, with plain POSIX sockets

struct SocketAddress {
    sockaddr_storage storage{};
    socklen_t length = 0;
    int family = -1;
};

SocketAddress socketAddress(const LinkAddress& address) {
    SocketAddress result;
    if (address.kind == LinkAddress::Kind::unixSocket) {
        sockaddr_un un{};
        un.sun_family = AF_UNIX;
        std::memcpy(un.sun_path, address.path.data(), address.path.size());
        std::memcpy(&result.storage, &un, sizeof un);
        result.length =
            static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + address.path.size() + 1);
        result.family = AF_UNIX;
    } else if (address.host.find(':') != std::string::npos) {
        sockaddr_in6 in6{};
        in6.sin6_family = AF_INET6;
        in6.sin6_port = htons(address.port);
        ::inet_pton(AF_INET6, address.host.c_str(), &in6.sin6_addr);
        std::memcpy(&result.storage, &in6, sizeof in6);
        result.length = sizeof in6;
        result.family = AF_INET6;
    } else {
        sockaddr_in in{};
        in.sin_family = AF_INET;
        in.sin_port = htons(address.port);
        ::inet_pton(AF_INET, address.host.c_str(), &in.sin_addr);
        std::memcpy(&result.storage, &in, sizeof in);
        result.length = sizeof in;
        result.family = AF_INET;
    }
    return result;
}

class RawSocket {
public:
    RawSocket() = default;
    explicit RawSocket(int fd) : fd_(fd) {}
    RawSocket(RawSocket&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    RawSocket& operator=(RawSocket&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    ~RawSocket() { reset(); }

    void reset() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = -1;
    }
    bool valid() const { return fd_ >= 0; }

    static RawSocket connectTo(const LinkAddress& address) {
        auto target = socketAddress(address);
        RawSocket socket(::socket(target.family, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (!socket.valid() ||
            ::connect(socket.fd_, reinterpret_cast<const sockaddr*>(&target.storage),
                      target.length) != 0) {
            return RawSocket();
        }
        return socket;
    }

    // Bound and, when asked, listening; bound alone refuses connections while keeping the port.
    static RawSocket bindTo(const LinkAddress& address, bool listening) {
        auto target = socketAddress(address);
        RawSocket socket(::socket(target.family, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (!socket.valid() ||
            ::bind(socket.fd_, reinterpret_cast<const sockaddr*>(&target.storage), target.length) !=
                0 ||
            (listening && ::listen(socket.fd_, 8) != 0)) {
            return RawSocket();
        }
        return socket;
    }

    std::uint16_t port() const {
        sockaddr_storage storage{};
        socklen_t length = sizeof storage;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&storage), &length);
        sockaddr_in in{};
        std::memcpy(&in, &storage, sizeof in);
        return ntohs(in.sin_port);
    }

    RawSocket acceptOne() {
        if (!waitReadable()) {
            return RawSocket();
        }
        return RawSocket(::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC));
    }

    bool sendAll(std::span<const std::uint8_t> bytes) {
        while (!bytes.empty()) {
            auto sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (sent < 0 && errno == EINTR) {
                continue;
            }
            if (sent <= 0) {
                return false;
            }
            bytes = bytes.subspan(static_cast<std::size_t>(sent));
        }
        return true;
    }

    std::optional<Data> readExactly(std::size_t count) {
        Data bytes(count);
        std::size_t got = 0;
        while (got < count) {
            if (!waitReadable()) {
                return std::nullopt;
            }
            auto n = ::recv(fd_, bytes.data() + got, count - got, 0);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return std::nullopt;
            }
            got += static_cast<std::size_t>(n);
        }
        return bytes;
    }

    std::optional<Dictionary> readFrame() {
        auto header = readExactly(4);
        if (!header) {
            return std::nullopt;
        }
        auto length = (std::uint32_t{(*header)[0]} << 24) | (std::uint32_t{(*header)[1]} << 16) |
                      (std::uint32_t{(*header)[2]} << 8) | std::uint32_t{(*header)[3]};
        auto body = readExactly(length);
        if (!body) {
            return std::nullopt;
        }
        auto value = platform::decodeBinaryPlist(*body);
        if (!value || !value->dictionary()) {
            return std::nullopt;
        }
        return *value->dictionary();
    }

    // True once the other end has closed (or reset) the connection; whatever arrives first is
    // read and dropped.
    bool closedByPeer() {
        std::array<std::uint8_t, 4096> scratch{};
        while (waitReadable()) {
            auto n = ::recv(fd_, scratch.data(), scratch.size(), 0);
            if (n == 0 || (n < 0 && errno == ECONNRESET)) {
                return true;
            }
            if (n < 0 && errno != EINTR) {
                return false;
            }
        }
        return false;
    }

private:
    bool waitReadable() {
        pollfd entry{fd_, POLLIN, 0};
        auto timeout = static_cast<int>(std::chrono::milliseconds(patience).count());
        int ready = 0;
        do {
            ready = ::poll(&entry, 1, timeout);
        } while (ready < 0 && errno == EINTR);
        return ready > 0;
    }

    int fd_ = -1;
};

std::string kindName(const testing::TestParamInfo<LinkAddress::Kind>& param) {
    return param.param == LinkAddress::Kind::tcp ? "Tcp" : "Unix";
}

// ---- Phone and watch transports in one process, over either kind of socket

class SocketTransportTest : public testing::TestWithParam<LinkAddress::Kind> {
protected:
    void SetUp() override {
        auto pattern =
            (std::filesystem::temp_directory_path() / "socket-transport-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr) << std::strerror(errno);
        dir_ = pattern;
    }

    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    bool tcp() const { return GetParam() == LinkAddress::Kind::tcp; }

    // Where a phone listens: a socket file in the test's directory, or a port the system picks.
    LinkAddress listenAddress() const {
        auto text =
            tcp() ? std::string("tcp:127.0.0.1:0") : "unix:" + (dir_ / "link.sock").string();
        return platform::parseLinkAddress(text).value();
    }

    // Where a watch finds that phone.
    static LinkAddress reach(LinkAddress listened, const SocketTransport& phone) {
        if (listened.kind == LinkAddress::Kind::tcp) {
            listened.port = phone.localPort().value_or(0);
        }
        return listened;
    }

    std::unique_ptr<SocketTransport> startPhone(const LinkAddress& address, Recorder& recorder) {
        auto phone = std::make_unique<SocketTransport>(LinkRole::phone, address, phoneLog_);
        phone->start(recorder.events());
        if (tcp()) {
            EXPECT_TRUE(phone->localPort()) << phoneLog_.text();
        }
        return phone;
    }

    std::unique_ptr<SocketTransport> startWatch(const LinkAddress& address, Recorder& recorder,
                                                platform::SocketTransportOptions options = {}) {
        auto watch =
            std::make_unique<SocketTransport>(LinkRole::watch, address, watchLog_, options);
        watch->start(recorder.events());
        return watch;
    }

    std::filesystem::path dir_;
    WaitingLog phoneLog_;
    WaitingLog watchLog_;
    // Declared before the transports of each test, so that they outlive them.
    Recorder phoneEvents_;
    Recorder watchEvents_;
};

TEST_P(SocketTransportTest, DeliversFramesInOrderAndIntactBothWaysOnEachTransportsOwnThread) {
    auto address = listenAddress();
    auto phone = startPhone(address, phoneEvents_);
    auto watch = startWatch(reach(address, *phone), watchEvents_);
    ASSERT_TRUE(nextIs(phoneEvents_, Kind::connected));
    ASSERT_TRUE(nextIs(watchEvents_, Kind::connected));

    std::vector<Dictionary> fromWatch;
    for (int i = 0; i < 200; ++i) {
        auto envelope = message(i);
        if (i == 100) {
            envelope["contents"] = patterned(1 << 20, 7);
        }
        fromWatch.push_back(envelope);
        watch->send(envelope);
    }
    std::vector<Dictionary> fromPhone;
    for (int i = 0; i < 50; ++i) {
        fromPhone.push_back(message(1000 + i));
        phone->send(fromPhone.back());
    }

    for (std::size_t i = 0; i < fromWatch.size(); ++i) {
        Event event;
        ASSERT_TRUE(nextIs(phoneEvents_, Kind::frame, &event)) << "frame " << i;
        EXPECT_TRUE(event.envelope == fromWatch[i]) << "frame " << i << " differs";
    }
    for (std::size_t i = 0; i < fromPhone.size(); ++i) {
        Event event;
        ASSERT_TRUE(nextIs(watchEvents_, Kind::frame, &event)) << "frame " << i;
        EXPECT_EQ(event.envelope, fromPhone[i]);
    }

    phone->stop();
    watch->stop();
    EXPECT_FALSE(phoneEvents_.overlapped());
    EXPECT_FALSE(watchEvents_.overlapped());
    auto phoneThreads = phoneEvents_.threads();
    auto watchThreads = watchEvents_.threads();
    ASSERT_EQ(phoneThreads.size(), 1u);
    ASSERT_EQ(watchThreads.size(), 1u);
    EXPECT_NE(*phoneThreads.begin(), std::this_thread::get_id());
    EXPECT_NE(*watchThreads.begin(), std::this_thread::get_id());
    EXPECT_NE(*phoneThreads.begin(), *watchThreads.begin());
}

TEST_P(SocketTransportTest, FramesSentFromManyThreadsArriveWholeAndInEachThreadsOrder) {
    auto address = listenAddress();
    auto phone = startPhone(address, phoneEvents_);
    auto watch = startWatch(reach(address, *phone), watchEvents_);
    ASSERT_TRUE(nextIs(phoneEvents_, Kind::connected));
    ASSERT_TRUE(nextIs(watchEvents_, Kind::connected));

    constexpr int senders = 4;
    constexpr int perSender = 100;
    // Frames of some kilobytes take several writes each, so interleaved writes would corrupt them.
    auto envelope = [](int sender, int sequence) {
        auto size = static_cast<std::size_t>(4000 + (sequence * 977) % 30000);
        return Dictionary{{"sender", sender},
                          {"sequence", sequence},
                          {"padding", patterned(size, static_cast<std::uint8_t>(sender))}};
    };
    std::latch go(senders);
    std::vector<std::future<void>> running;
    for (int sender = 0; sender < senders; ++sender) {
        running.push_back(std::async(std::launch::async, [&, sender] {
            go.arrive_and_wait();
            for (int i = 0; i < perSender; ++i) {
                watch->send(envelope(sender, i));
            }
        }));
    }
    for (auto& sender : running) {
        sender.get();
    }

    std::vector<int> nextSequence(senders, 0);
    for (int i = 0; i < senders * perSender; ++i) {
        Event event;
        ASSERT_TRUE(nextIs(phoneEvents_, Kind::frame, &event)) << "frame " << i;
        auto sender = event.envelope["sender"].integer();
        auto sequence = event.envelope["sequence"].integer();
        ASSERT_TRUE(sender && sequence && *sender >= 0 && *sender < senders);
        auto s = static_cast<std::size_t>(*sender);
        EXPECT_EQ(*sequence, nextSequence[s]) << "from sender " << s;
        EXPECT_TRUE(event.envelope == envelope(static_cast<int>(s), static_cast<int>(*sequence)));
        nextSequence[s] = static_cast<int>(*sequence) + 1;
    }
}

TEST_P(SocketTransportTest, WatchReconnectsAfterThePhoneDropsTheConnection) {
    auto address = listenAddress();
    auto phone = startPhone(address, phoneEvents_);
    auto watch = startWatch(reach(address, *phone), watchEvents_);
    ASSERT_TRUE(nextIs(phoneEvents_, Kind::connected));
    ASSERT_TRUE(nextIs(watchEvents_, Kind::connected));

    phone->disconnect("frame before hello");
    Event dropped;
    ASSERT_TRUE(nextIs(phoneEvents_, Kind::disconnected, &dropped));
    EXPECT_EQ(dropped.reason, "frame before hello");
    ASSERT_TRUE(nextIs(watchEvents_, Kind::disconnected));
    EXPECT_TRUE(phoneLog_.contains("frame before hello"));

    ASSERT_TRUE(nextIs(phoneEvents_, Kind::connected));
    ASSERT_TRUE(nextIs(watchEvents_, Kind::connected));
    watch->send(message(1));
    phone->send(message(2));
    Event event;
    ASSERT_TRUE(nextIs(phoneEvents_, Kind::frame, &event));
    EXPECT_EQ(event.envelope, message(1));
    ASSERT_TRUE(nextIs(watchEvents_, Kind::frame, &event));
    EXPECT_EQ(event.envelope, message(2));
}

TEST_P(SocketTransportTest, WatchReconnectsToARecreatedPhoneWithoutReplayingWhatWasSentMeanwhile) {
    auto address = listenAddress();
    auto phone = startPhone(address, phoneEvents_);
    auto watchAddress = reach(address, *phone);
    auto watch = startWatch(watchAddress, watchEvents_);
    ASSERT_TRUE(nextIs(phoneEvents_, Kind::connected));
    ASSERT_TRUE(nextIs(watchEvents_, Kind::connected));

    phone.reset();
    ASSERT_TRUE(nextIs(watchEvents_, Kind::disconnected));
    // Nothing carries this frame: it must not turn up on the next connection.
    watch->send(message(1));
    if (!tcp()) {
        EXPECT_FALSE(std::filesystem::exists(address.path)) << "the phone left its socket file";
    }

    Recorder secondPhoneEvents;
    phone = startPhone(watchAddress, secondPhoneEvents);
    ASSERT_TRUE(nextIs(secondPhoneEvents, Kind::connected)) << watchLog_.text();
    ASSERT_TRUE(nextIs(watchEvents_, Kind::connected));
    watch->send(message(2));
    Event event;
    ASSERT_TRUE(nextIs(secondPhoneEvents, Kind::frame, &event));
    EXPECT_EQ(event.envelope, message(2));
    phone->send(message(3));
    ASSERT_TRUE(nextIs(watchEvents_, Kind::frame, &event));
    EXPECT_EQ(event.envelope, message(3));
    phone.reset();
}

TEST_P(SocketTransportTest, ANewerWatchConnectionReplacesTheOlder) {
    auto address = listenAddress();
    auto phone = startPhone(address, phoneEvents_);
    auto target = reach(address, *phone);

    auto older = RawSocket::connectTo(target);
    ASSERT_TRUE(older.valid());
    ASSERT_TRUE(nextIs(phoneEvents_, Kind::connected));
    auto newer = RawSocket::connectTo(target);
    ASSERT_TRUE(newer.valid());
    Event replaced;
    ASSERT_TRUE(nextIs(phoneEvents_, Kind::disconnected, &replaced));
    EXPECT_NE(replaced.reason.find("newer"), std::string::npos) << replaced.reason;
    ASSERT_TRUE(nextIs(phoneEvents_, Kind::connected));
    EXPECT_TRUE(older.closedByPeer());

    phone->send(message(1));
    auto received = newer.readFrame();
    ASSERT_TRUE(received);
    EXPECT_EQ(*received, message(1));
    ASSERT_TRUE(newer.sendAll(framed(Value(message(2)))));
    Event event;
    ASSERT_TRUE(nextIs(phoneEvents_, Kind::frame, &event));
    EXPECT_EQ(event.envelope, message(2));
}

TEST_P(SocketTransportTest, MalformedFramesCloseTheConnectionAndTheNextClientIsServed) {
    auto address = listenAddress();
    auto phone = startPhone(address, phoneEvents_);
    auto target = reach(address, *phone);

    auto valid = platform::encodeBinaryPlist(Value(message(1))).value();
    Data truncated(valid.begin(), valid.end() - 6);
    Data garbage{'n', 'o', 't', ' ', 'a', ' ', 'p', 'l', 'i', 's', 't'};
    struct Case {
        std::string name;
        Data bytes;
        std::string logged;
    };
    std::vector<Case> cases{
        {"length 0", lengthPrefix(0), "frame length 0 is out of range"},
        {"length just above the limit", lengthPrefix(platform::maxLinkFrameLength + 1),
         "frame length 67108865 is out of range"},
        {"largest 32-bit length", lengthPrefix(0xFFFFFFFFu),
         "frame length 4294967295 is out of range"},
        {"garbage body", framed(garbage), "not a binary property list"},
        {"truncated property list", framed(truncated), "not a binary property list"},
        {"array root", framed(Value(platform::Array{1, 2})), "root is not a dictionary"},
        {"string root", framed(Value("hello")), "root is not a dictionary"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto client = RawSocket::connectTo(target);
        ASSERT_TRUE(client.valid());
        ASSERT_TRUE(nextIs(phoneEvents_, Kind::connected));
        ASSERT_TRUE(client.sendAll(c.bytes));
        Event closed;
        ASSERT_TRUE(nextIs(phoneEvents_, Kind::disconnected, &closed));
        EXPECT_NE(closed.reason.find(c.logged), std::string::npos) << closed.reason;
        EXPECT_TRUE(client.closedByPeer());
        EXPECT_TRUE(phoneLog_.contains(c.logged)) << phoneLog_.text();
    }

    auto client = RawSocket::connectTo(target);
    ASSERT_TRUE(client.valid());
    ASSERT_TRUE(nextIs(phoneEvents_, Kind::connected));
    ASSERT_TRUE(client.sendAll(framed(Value(message(2)))));
    Event event;
    ASSERT_TRUE(nextIs(phoneEvents_, Kind::frame, &event));
    EXPECT_EQ(event.envelope, message(2));
}

TEST_P(SocketTransportTest, WatchClosesTheConnectionOnAMalformedFrameAndReconnects) {
    auto address = listenAddress();
    auto listener = RawSocket::bindTo(address, true);
    ASSERT_TRUE(listener.valid()) << std::strerror(errno);
    if (tcp()) {
        address.port = listener.port();
    }
    auto watch = startWatch(address, watchEvents_);

    auto first = listener.acceptOne();
    ASSERT_TRUE(first.valid());
    ASSERT_TRUE(nextIs(watchEvents_, Kind::connected));
    ASSERT_TRUE(first.sendAll(lengthPrefix(0)));
    Event closed;
    ASSERT_TRUE(nextIs(watchEvents_, Kind::disconnected, &closed));
    EXPECT_NE(closed.reason.find("frame length 0 is out of range"), std::string::npos);
    EXPECT_TRUE(first.closedByPeer());
    EXPECT_TRUE(watchLog_.contains("frame length 0 is out of range")) << watchLog_.text();

    auto second = listener.acceptOne();
    ASSERT_TRUE(second.valid()) << "the watch did not reconnect";
    ASSERT_TRUE(nextIs(watchEvents_, Kind::connected));
    ASSERT_TRUE(second.sendAll(framed(Value(message(1)))));
    Event event;
    ASSERT_TRUE(nextIs(watchEvents_, Kind::frame, &event));
    EXPECT_EQ(event.envelope, message(1));
}

TEST_P(SocketTransportTest, AcceptsAFrameOfExactlyTheLargestLength) {
    auto address = listenAddress();
    auto phone = startPhone(address, phoneEvents_);
    auto client = RawSocket::connectTo(reach(address, *phone));
    ASSERT_TRUE(client.valid());
    ASSERT_TRUE(nextIs(phoneEvents_, Kind::connected));

    // Sizes the contents so that the whole document is exactly the limit.
    constexpr std::size_t limit = platform::maxLinkFrameLength;
    auto document = [](std::size_t contents) {
        return platform::encodeBinaryPlist(
                   Value(Dictionary{{"kind", "file"}, {"contents", patterned(contents, 3)}}))
            .value();
    };
    auto overhead = document(limit - 4096).size() - (limit - 4096);
    auto contentsSize = limit - overhead;
    auto body = document(contentsSize);
    ASSERT_EQ(body.size(), limit);

    ASSERT_TRUE(client.sendAll(lengthPrefix(static_cast<std::uint32_t>(body.size()))));
    ASSERT_TRUE(client.sendAll(body));
    Data().swap(body);
    Event event;
    ASSERT_TRUE(nextIs(phoneEvents_, Kind::frame, &event)) << phoneLog_.text();
    auto contents = event.envelope["contents"].data();
    ASSERT_TRUE(contents);
    EXPECT_TRUE(*contents == patterned(contentsSize, 3));
}

TEST_P(SocketTransportTest, AnEnvelopeThatIsNotAPropertyListIsDroppedAndLogged) {
    auto address = listenAddress();
    auto phone = startPhone(address, phoneEvents_);
    auto watch = startWatch(reach(address, *phone), watchEvents_);
    ASSERT_TRUE(nextIs(phoneEvents_, Kind::connected));
    ASSERT_TRUE(nextIs(watchEvents_, Kind::connected));

    watch->send(Dictionary{{"kind", "message"}, {"body", Dictionary{{"x", platform::Null{}}}}});
    EXPECT_TRUE(watchLog_.contains("not a property list")) << watchLog_.text();
    watch->send(message(1));
    Event event;
    ASSERT_TRUE(nextIs(phoneEvents_, Kind::frame, &event));
    EXPECT_EQ(event.envelope, message(1));
}

TEST_P(SocketTransportTest, StopReturnsPromptlyWhileAReconnectIsPending) {
    auto address = listenAddress();
    // Keeps the port taken but refuses connections.
    auto refuser = tcp() ? RawSocket::bindTo(address, false) : RawSocket();
    if (tcp()) {
        ASSERT_TRUE(refuser.valid());
        address.port = refuser.port();
    }
    platform::SocketTransportOptions slow{std::chrono::minutes(1), std::chrono::minutes(1)};
    auto watch = startWatch(address, watchEvents_, slow);
    ASSERT_TRUE(watchLog_.waitFor("cannot connect")) << watchLog_.text();

    auto began = std::chrono::steady_clock::now();
    watch->stop();
    EXPECT_LT(std::chrono::steady_clock::now() - began, 10s);
}

TEST_P(SocketTransportTest, NoEventArrivesAfterStopReturns) {
    auto address = listenAddress();
    auto phone = startPhone(address, phoneEvents_);
    auto watch = startWatch(reach(address, *phone), watchEvents_);
    ASSERT_TRUE(nextIs(phoneEvents_, Kind::connected));
    ASSERT_TRUE(nextIs(watchEvents_, Kind::connected));

    std::atomic<bool> flooding{true};
    auto flood = std::async(std::launch::async, [&] {
        for (int i = 0; flooding && i < 200000; ++i) {
            phone->send(message(i));
        }
    });
    ASSERT_TRUE(nextIs(watchEvents_, Kind::frame));
    watch->stop();
    watchEvents_.markStopped();
    ASSERT_TRUE(nextIs(phoneEvents_, Kind::disconnected));
    flooding = false;
    flood.get();
    EXPECT_FALSE(watchEvents_.eventAfterStop());
}

TEST_P(SocketTransportTest, CallbacksMaySendAndDisconnectWithoutFurtherFramesOrNestedEvents) {
    auto hello = Dictionary{{"kind", "hello"}, {"role", "phone"}, {"version", 1}};
    auto address = listenAddress();
    auto phone = std::make_unique<SocketTransport>(LinkRole::phone, address, phoneLog_);
    // As the session engine does: hello on every connection, a protocol error ends it.
    phoneEvents_.onEvent([&](const Event& event) {
        if (event.kind == Kind::connected) {
            phone->send(hello);
        }
        if (event.kind == Kind::frame && event.envelope.at("kind") == Value("bad")) {
            phone->disconnect("protocol error");
        }
    });
    phone->start(phoneEvents_.events());
    auto watch = startWatch(reach(address, *phone), watchEvents_);
    ASSERT_TRUE(nextIs(phoneEvents_, Kind::connected));
    ASSERT_TRUE(nextIs(watchEvents_, Kind::connected));
    Event event;
    ASSERT_TRUE(nextIs(watchEvents_, Kind::frame, &event));
    EXPECT_EQ(event.envelope, hello);

    watch->send(Dictionary{{"kind", "bad"}});
    watch->send(Dictionary{{"kind", "after the bad one"}});
    ASSERT_TRUE(nextIs(phoneEvents_, Kind::frame, &event));
    EXPECT_EQ(event.envelope.at("kind"), Value("bad"));
    ASSERT_TRUE(nextIs(phoneEvents_, Kind::disconnected, &event));
    EXPECT_EQ(event.reason, "protocol error");
    ASSERT_TRUE(nextIs(watchEvents_, Kind::disconnected));

    ASSERT_TRUE(nextIs(phoneEvents_, Kind::connected));
    ASSERT_TRUE(nextIs(watchEvents_, Kind::connected));
    ASSERT_TRUE(nextIs(watchEvents_, Kind::frame, &event));
    EXPECT_EQ(event.envelope, hello);
    watch->send(message(1));
    ASSERT_TRUE(nextIs(phoneEvents_, Kind::frame, &event));
    EXPECT_EQ(event.envelope, message(1));

    phone->stop();
    EXPECT_FALSE(phoneEvents_.overlapped());
}

TEST_P(SocketTransportTest, ACallbackMayStopItsOwnTransport) {
    auto address = listenAddress();
    auto phone = startPhone(address, phoneEvents_);
    auto watch =
        std::make_unique<SocketTransport>(LinkRole::watch, reach(address, *phone), watchLog_);
    std::promise<void> stopped;
    watchEvents_.onEvent([&](const Event& event) {
        if (event.kind == Kind::disconnected) {
            watch->stop();
            stopped.set_value();
        }
    });
    watch->start(watchEvents_.events());
    ASSERT_TRUE(nextIs(phoneEvents_, Kind::connected));
    ASSERT_TRUE(nextIs(watchEvents_, Kind::connected));

    phone->disconnect("going away");
    ASSERT_EQ(stopped.get_future().wait_for(patience), std::future_status::ready);
    watch.reset();
    ASSERT_TRUE(nextIs(watchEvents_, Kind::disconnected));
}

INSTANTIATE_TEST_SUITE_P(Sockets, SocketTransportTest,
                         testing::Values(LinkAddress::Kind::unixSocket, LinkAddress::Kind::tcp),
                         kindName);

// ---- What only a socket file has

class UnixSocketFileTest : public SocketTransportTest {};

TEST_P(UnixSocketFileTest, AStaleSocketFileIsReplacedAndRemovedOnStop) {
    auto address = listenAddress();
    {
        // A socket file whose listener is gone, as a crashed phone leaves it.
        auto stale = RawSocket::bindTo(address, false);
        ASSERT_TRUE(stale.valid());
    }
    ASSERT_TRUE(std::filesystem::is_socket(address.path));

    auto phone = startPhone(address, phoneEvents_);
    EXPECT_TRUE(phoneLog_.contains("removed the stale socket file")) << phoneLog_.text();
    auto watch = startWatch(address, watchEvents_);
    ASSERT_TRUE(nextIs(phoneEvents_, Kind::connected)) << phoneLog_.text();
    ASSERT_TRUE(nextIs(watchEvents_, Kind::connected));

    phone->stop();
    EXPECT_FALSE(std::filesystem::exists(address.path));
}

TEST_P(UnixSocketFileTest, AnotherKindOfFileIsLeftAloneUntilItGoes) {
    auto address = listenAddress();
    {
        std::ofstream file(address.path);
        file << "keep me";
    }
    auto phone = startPhone(address, phoneEvents_);
    EXPECT_TRUE(phoneLog_.contains("is not a socket")) << phoneLog_.text();
    auto watch = startWatch(address, watchEvents_);
    EXPECT_TRUE(watchLog_.waitFor("cannot connect")) << watchLog_.text();
    {
        std::ifstream file(address.path);
        std::stringstream contents;
        contents << file.rdbuf();
        EXPECT_EQ(contents.str(), "keep me");
    }

    // Both ends keep retrying, so the link comes up once the path is free.
    std::filesystem::remove(address.path);
    ASSERT_TRUE(nextIs(phoneEvents_, Kind::connected)) << phoneLog_.text();
    ASSERT_TRUE(nextIs(watchEvents_, Kind::connected));
}

INSTANTIATE_TEST_SUITE_P(Sockets, UnixSocketFileTest,
                         testing::Values(LinkAddress::Kind::unixSocket), kindName);

TEST(SocketTransportAddressTest, RefusesANonLoopbackHostBuiltByHand) {
    WaitingLog log;
    Recorder events;
    SocketTransport phone(LinkRole::phone, LinkAddress{LinkAddress::Kind::tcp, {}, "0.0.0.0", 0},
                          log);
    phone.start(events.events());
    EXPECT_FALSE(phone.localPort());
    EXPECT_TRUE(log.contains("refusing link address tcp:0.0.0.0:0")) << log.text();

    SocketTransport watch(LinkRole::watch,
                          LinkAddress{LinkAddress::Kind::tcp, {}, "192.0.2.1", 7400}, log);
    watch.start(events.events());
    EXPECT_TRUE(log.contains("refusing link address tcp:192.0.2.1:7400")) << log.text();
    EXPECT_TRUE(log.contains("not a loopback address")) << log.text();
}

} // namespace

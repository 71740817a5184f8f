#include "platform/link/socket/link_address.hpp"
#include "platform/link/socket/reconnect_backoff.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace std::chrono_literals;
using platform::LinkAddress;
using platform::parseLinkAddress;

namespace {

LinkAddress tcp(std::string host, std::uint16_t port) {
    return LinkAddress{LinkAddress::Kind::tcp, {}, std::move(host), port};
}

LinkAddress unixSocket(std::string path) {
    return LinkAddress{LinkAddress::Kind::unixSocket, std::move(path), {}, 0};
}

TEST(LinkAddressTest, ReadsUnixAndLoopbackTcpAddresses) {
    struct Case {
        std::string text;
        LinkAddress expected;
    };
    std::vector<Case> cases{
        {"unix:/tmp/wristside/link.sock", unixSocket("/tmp/wristside/link.sock")},
        {"unix:relative.sock", unixSocket("relative.sock")},
        // A path may itself contain colons.
        {"unix:/tmp/a:b", unixSocket("/tmp/a:b")},
        {"tcp:127.0.0.1:7400", tcp("127.0.0.1", 7400)},
        {"tcp:127.255.3.4:1", tcp("127.255.3.4", 1)},
        {"tcp:127.0.0.1:0", tcp("127.0.0.1", 0)},
        {"tcp:127.0.0.1:65535", tcp("127.0.0.1", 65535)},
        {"tcp:localhost:7400", tcp("127.0.0.1", 7400)},
        {"tcp:LocalHost:7400", tcp("127.0.0.1", 7400)},
        {"tcp:[::1]:7400", tcp("::1", 7400)},
        {"tcp:::1:7400", tcp("::1", 7400)},
        {"tcp:[0:0:0:0:0:0:0:1]:7400", tcp("::1", 7400)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::string error;
        auto parsed = parseLinkAddress(c.text, &error);
        ASSERT_TRUE(parsed) << error;
        EXPECT_EQ(*parsed, c.expected);
        EXPECT_FALSE(platform::checkLinkAddress(*parsed));
    }
}

TEST(LinkAddressTest, WritesTextThatReadsBackTheSame) {
    for (const auto& address : {unixSocket("/tmp/x.sock"), tcp("127.0.0.1", 80), tcp("::1", 80)}) {
        auto text = platform::toString(address);
        SCOPED_TRACE(text);
        EXPECT_EQ(parseLinkAddress(text), address);
    }
    EXPECT_EQ(platform::toString(tcp("::1", 7400)), "tcp:[::1]:7400");
}

TEST(LinkAddressTest, RefusesAnythingElseSayingWhy) {
    struct Case {
        std::string text;
        std::string reason;
    };
    std::vector<Case> cases{
        {"", "expected unix:PATH or tcp:HOST:PORT"},
        {"/tmp/link.sock", "expected unix:PATH or tcp:HOST:PORT"},
        {"udp:127.0.0.1:7400", "expected unix:PATH or tcp:HOST:PORT"},
        {"UNIX:/tmp/x", "expected unix:PATH or tcp:HOST:PORT"},
        {"unix:", "needs a socket path"},
        {"unix:/" + std::string(200, 'x'), "longer than 107 bytes"},
        {"tcp:127.0.0.1", "expected tcp:HOST:PORT"},
        {"tcp:127.0.0.1:", "is not a number"},
        {"tcp:127.0.0.1:65536", "is not a number from 0 to 65535"},
        {"tcp:127.0.0.1:-1", "is not a number"},
        {"tcp:127.0.0.1:+80", "is not a number"},
        {"tcp:127.0.0.1:80x", "is not a number"},
        {"tcp:7400", "expected tcp:HOST:PORT"},
        {"tcp:[::1]7400", "expected tcp:[HOST]:PORT"},
        {"tcp:[::1:7400", "expected tcp:[HOST]:PORT"},
        {"tcp:10.0.0.5:7400", "host \"10.0.0.5\" is not a loopback address"},
        {"tcp:192.168.1.20:7400", "not a loopback address"},
        {"tcp:0.0.0.0:7400", "not a loopback address"},
        {"tcp:128.0.0.1:7400", "not a loopback address"},
        {"tcp:[::]:7400", "not a loopback address"},
        {"tcp:[::ffff:127.0.0.1]:7400", "not a loopback address"},
        {"tcp:example.com:7400", "not a loopback address"},
        {"tcp::7400", "not a loopback address"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::string error;
        EXPECT_FALSE(parseLinkAddress(c.text, &error));
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
        EXPECT_NE(error.find("\"" + c.text + "\""), std::string::npos) << error;
    }
    EXPECT_FALSE(parseLinkAddress("tcp:10.0.0.5:7400"));
}

TEST(LinkAddressTest, ChecksAddressesBuiltByHand) {
    auto remote = platform::checkLinkAddress(tcp("192.0.2.7", 7400));
    ASSERT_TRUE(remote);
    EXPECT_NE(remote->find("not a loopback address"), std::string::npos) << *remote;
    EXPECT_TRUE(platform::checkLinkAddress(unixSocket("")));
    EXPECT_FALSE(platform::checkLinkAddress(tcp("localhost", 1)));
}

TEST(ReconnectBackoffTest, DoublesUpToTheCapAndStartsOverAfterASuccess) {
    platform::ReconnectBackoff backoff(100ms, 2s);
    std::vector<std::chrono::milliseconds> delays;
    for (int i = 0; i < 8; ++i) {
        delays.push_back(backoff.next());
    }
    EXPECT_EQ(delays, (std::vector<std::chrono::milliseconds>{100ms, 200ms, 400ms, 800ms, 1600ms,
                                                              2000ms, 2000ms, 2000ms}));
    backoff.reset();
    EXPECT_EQ(backoff.next(), 100ms);
    EXPECT_EQ(backoff.next(), 200ms);
}

} // namespace

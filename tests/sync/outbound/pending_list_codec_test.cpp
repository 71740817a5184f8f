#include "sync/outbound/pending_watch_sync_message.hpp"

#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <string>
#include <string_view>
#include <vector>

using platform::Data;
using watchsync::decodePendingList;
using watchsync::encodePendingList;
using watchsync::PendingWatchSyncMessage;

namespace {

Data bytesOf(std::string_view text) {
    return Data(text.begin(), text.end());
}

std::string textOf(const std::optional<Data>& bytes) {
    return bytes ? std::string(bytes->begin(), bytes->end()) : "<nothing>";
}

TEST(PendingListCodecTest, WritesAJsonArrayOfIdBase64PayloadAndFlag) {
    EXPECT_EQ(textOf(encodePendingList({})), "[]");
    // Payload lengths with zero, one and two padding characters, and bytes that use '+' and '/'.
    std::vector<PendingWatchSyncMessage> list{
        {"sync-1", Data{0xFB, 0xFF, 0x10}, true},
        {"sync-2", bytesOf("Ma"), false},
        {"sync-3", bytesOf("M"), false},
        {"sync-4", Data{}, false},
    };
    EXPECT_EQ(textOf(encodePendingList(list)),
              R"([{"id":"sync-1","payload":"+/8Q","queuedForTransfer":true},)"
              R"({"id":"sync-2","payload":"TWE=","queuedForTransfer":false},)"
              R"({"id":"sync-3","payload":"TQ==","queuedForTransfer":false},)"
              R"({"id":"sync-4","payload":"","queuedForTransfer":false}])");
}

TEST(PendingListCodecTest, ReadsWhatOthersWroteInAnyKeyOrderIgnoringExtraKeys) {
    const auto list = decodePendingList(
        bytesOf(R"([ {"queuedForTransfer": true, "payload": "+/8Q", "id": "sync-1", "note": 1},)"
                R"(  {"id": "sync-2", "payload": "TWE=", "queuedForTransfer": false} ])"));
    ASSERT_TRUE(list);
    EXPECT_EQ(*list, (std::vector<PendingWatchSyncMessage>{{"sync-1", Data{0xFB, 0xFF, 0x10}, true},
                                                           {"sync-2", bytesOf("Ma"), false}}));
    EXPECT_EQ(decodePendingList(bytesOf("[]")), std::vector<PendingWatchSyncMessage>{});
}

TEST(PendingListCodecTest, OneFlawAnywhereSpoilsTheWholeList) {
    const std::string good = R"({"id":"sync-1","payload":"TWE=","queuedForTransfer":false})";
    const std::vector<std::string> damaged{
        "[" + good + R"(,{"id":"sync-2","payload":"TWE="}])",
        "[" + good + R"(,{"payload":"TWE=","queuedForTransfer":false}])",
        "[" + good + R"(,{"id":"sync-2","queuedForTransfer":false}])",
        R"([{"id":7,"payload":"TWE=","queuedForTransfer":false}])",
        R"([{"id":"sync-1","payload":null,"queuedForTransfer":false}])",
        R"([{"id":"sync-1","payload":"TWE=","queuedForTransfer":"false"}])",
        R"([{"id":"sync-1","payload":"TWE=","queuedForTransfer":0}])",
        R"([{"id":"sync-1","payload":"TWE","queuedForTransfer":false}])",
        R"([{"id":"sync-1","payload":"TW=E","queuedForTransfer":false}])",
        R"([{"id":"sync-1","payload":"TQ==TQ==","queuedForTransfer":false}])",
        R"([{"id":"sync-1","payload":"====","queuedForTransfer":false}])",
        R"([{"id":"sync-1","payload":"T@E=","queuedForTransfer":false}])",
        R"([{"id":"sync-1","payload":"TW E","queuedForTransfer":false}])",
        "[" + good + R"(,"sync-2"])",
        good,
        "[" + good,
        "",
        "not json",
        "[{\"id\":\"\xC3\x28\",\"payload\":\"TWE=\",\"queuedForTransfer\":false}]",
    };
    for (const auto& text : damaged) {
        SCOPED_TRACE(text);
        EXPECT_EQ(decodePendingList(bytesOf(text)), std::nullopt);
    }
}

TEST(PendingListCodecTest, AnIdThatIsNotUtf8CannotBeWritten) {
    EXPECT_EQ(encodePendingList({{"\xC3\x28", Data{1}, false}}), std::nullopt);
}

RC_GTEST_PROP(PendingListCodecTest, ReadsBackExactlyWhatItWrote, ()) {
    const auto list = *rc::gen::container<std::vector<PendingWatchSyncMessage>>(rc::gen::build(
        rc::gen::construct<PendingWatchSyncMessage>(),
        rc::gen::set(&PendingWatchSyncMessage::id,
                     rc::gen::container<std::string>(rc::gen::inRange<char>(' ', '~'))),
        rc::gen::set(&PendingWatchSyncMessage::payload, rc::gen::arbitrary<Data>()),
        rc::gen::set(&PendingWatchSyncMessage::queuedForTransfer, rc::gen::arbitrary<bool>())));
    const auto encoded = encodePendingList(list);
    RC_ASSERT(encoded.has_value());
    RC_ASSERT(decodePendingList(*encoded) == std::optional(list));
}

} // namespace

#include "platform/link/envelope.hpp"

#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

namespace phonelink = platform::phonelink;
using platform::Data;
using platform::Dictionary;
using platform::LinkRole;

namespace {

struct WireCase {
    std::string name;
    phonelink::Frame frame;
    Dictionary wire;
};

// Every kind, written out as the protocol table has it.
std::vector<WireCase> wireCases() {
    const Dictionary body{{"set", 3}};
    return {
        {"phone hello",
         phonelink::Hello{LinkRole::phone, 1, true},
         {{"kind", "hello"}, {"role", "phone"}, {"version", 1}, {"reachable", true}}},
        {"watch hello",
         phonelink::Hello{LinkRole::watch, 1, std::nullopt},
         {{"kind", "hello"}, {"role", "watch"}, {"version", 1}}},
        {"reachability",
         phonelink::Reachability{false},
         {{"kind", "reachability"}, {"reachable", false}}},
        {"message",
         phonelink::Message{"m1", body, true},
         {{"kind", "message"}, {"id", "m1"}, {"body", body}, {"replyExpected", true}}},
        {"reply", phonelink::Reply{"m1", body}, {{"kind", "reply"}, {"id", "m1"}, {"body", body}}},
        {"userInfo",
         phonelink::UserInfo{"t1", body},
         {{"kind", "userInfo"}, {"id", "t1"}, {"body", body}}},
        {"context", phonelink::Context{body}, {{"kind", "context"}, {"body", body}}},
        {"file",
         phonelink::File{"f1", body, Data{1, 2, 3}},
         {{"kind", "file"}, {"id", "f1"}, {"metadata", body}, {"contents", Data{1, 2, 3}}}},
        {"received", phonelink::Received{"t1", std::nullopt}, {{"kind", "received"}, {"id", "t1"}}},
        {"received with error",
         phonelink::Received{"t1", "disk full"},
         {{"kind", "received"}, {"id", "t1"}, {"error", "disk full"}}},
        {"workoutData",
         phonelink::WorkoutData{Data{9}},
         {{"kind", "workoutData"}, {"data", Data{9}}}},
        {"startWorkout",
         phonelink::StartWorkout{{{"activityType", 20}, {"locationType", 2}}},
         {{"kind", "startWorkout"},
          {"configuration", Dictionary{{"activityType", 20}, {"locationType", 2}}}}},
    };
}

template <class T>
bool same(const phonelink::DecodedFrame& decoded, const phonelink::Frame& frame) {
    const auto* a = std::get_if<T>(&decoded);
    const auto* b = std::get_if<T>(&frame);
    return a != nullptr && b != nullptr && phonelink::encodeFrame(*b) == phonelink::encodeFrame(*a);
}

bool decodesTo(const phonelink::DecodedFrame& decoded, const phonelink::Frame& frame) {
    return std::visit(
        [&](const auto& f) { return same<std::decay_t<decltype(f)>>(decoded, frame); }, frame);
}

TEST(EnvelopeTest, EveryKindHasExactlyTheKeysOfTheWireContractBothWays) {
    for (const auto& c : wireCases()) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(phonelink::encodeFrame(c.frame), c.wire);
        EXPECT_TRUE(decodesTo(phonelink::decodeFrame(c.wire), c.frame));
    }
}

TEST(EnvelopeTest, AMessageWithoutReplyExpectedAsksForNoReply) {
    const auto decoded =
        phonelink::decodeFrame({{"kind", "message"}, {"id", "m"}, {"body", Dictionary{}}});
    ASSERT_TRUE(std::holds_alternative<phonelink::Message>(decoded));
    EXPECT_FALSE(std::get<phonelink::Message>(decoded).replyExpected);
}

TEST(EnvelopeTest, KnownKindsWithMissingOrMistypedKeysAreMalformedAndKeepTheirId) {
    struct Case {
        Dictionary envelope;
        std::optional<std::string> id;
    };
    const std::vector<Case> cases{
        {{{"kind", "userInfo"}, {"id", "t1"}}, "t1"},
        {{{"kind", "userInfo"}, {"id", "t1"}, {"body", "not a dictionary"}}, "t1"},
        {{{"kind", "file"}, {"id", "f1"}, {"metadata", Dictionary{}}}, "f1"},
        {{{"kind", "received"}, {"id", 7}}, std::nullopt},
        {{{"kind", "received"}, {"id", "t1"}, {"error", 5}}, "t1"},
        {{{"kind", "hello"}, {"role", "tablet"}, {"version", 1}}, std::nullopt},
        {{{"kind", "hello"}, {"role", "watch"}}, std::nullopt},
        {{{"kind", "hello"}, {"role", "phone"}, {"version", 1}, {"reachable", "yes"}},
         std::nullopt},
        {{{"kind", "reachability"}}, std::nullopt},
        {{{"kind", "message"}, {"id", "m"}, {"body", Dictionary{}}, {"replyExpected", 1}}, "m"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(platform::describe(platform::Value(c.envelope)));
        const auto decoded = phonelink::decodeFrame(c.envelope);
        ASSERT_TRUE(std::holds_alternative<phonelink::Malformed>(decoded));
        const auto& m = std::get<phonelink::Malformed>(decoded);
        EXPECT_EQ(m.kind, phonelink::envelopeKind(c.envelope));
        EXPECT_FALSE(m.problem.empty());
        EXPECT_EQ(m.id, c.id);
    }
}

TEST(EnvelopeTest, UnknownOrMissingKindsAreReportedAsUnknown) {
    for (const Dictionary& envelope : {Dictionary{{"kind", "heartRate"}, {"bpm", 80}},
                                       Dictionary{{"id", "x"}}, Dictionary{{"kind", 3}}}) {
        const auto decoded = phonelink::decodeFrame(envelope);
        ASSERT_TRUE(std::holds_alternative<phonelink::UnknownKind>(decoded));
        EXPECT_EQ(std::get<phonelink::UnknownKind>(decoded).kind,
                  phonelink::envelopeKind(envelope));
    }
}

} // namespace

#include "timer/persisted_timer_session.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <rapidcheck/gtest.h>

#include <cmath>
#include <string>
#include <string_view>

using platform::Data;
using platform::Date;
using timer::decodeTimerSession;
using timer::encodeTimerSession;
using timer::PersistedRestTimerSession;
using timer::PersistedWatchTimerEvent;

namespace {

std::string textOf(const std::optional<Data>& bytes) {
    return bytes ? std::string(bytes->begin(), bytes->end()) : "<nothing>";
}

std::optional<PersistedRestTimerSession> decodeText(std::string_view text) {
    return decodeTimerSession(Data(text.begin(), text.end()));
}

PersistedRestTimerSession fullSession() {
    return {.workoutId = "W-1",
            .startTime = Date{789000000.5},
            .timerSeconds = 90.0,
            .timerIsRunning = true,
            .timerId = "T-1",
            .timerRevision = 3,
            .latestTimerStartTime = Date{789000010.25},
            .isExerciseCountdown = true,
            .durationSetId = "S-1",
            .postCountdownRestSeconds = 60.5,
            .titleMessage = "Rest",
            // Two bytes, so that the Base64 text carries one padding character.
            .pendingEvent = PersistedWatchTimerEvent{"E-1", Data{0xFB, 0xFF}}};
}

constexpr std::string_view fullText =
    R"({"workoutId":"W-1","startTime":789000000.5,"timerSeconds":90.0,"timerIsRunning":true,)"
    R"("timerId":"T-1","timerRevision":3,"latestTimerStartTime":789000010.25,)"
    R"("isExerciseCountdown":true,"durationSetId":"S-1","postCountdownRestSeconds":60.5,)"
    R"("titleMessage":"Rest","pendingEvent":{"syncId":"E-1","data":"+/8="}})";

TEST(PersistedTimerSessionCodecTest, WritesTheKeysInFieldOrderAndReadsOtherEncoders) {
    EXPECT_EQ(textOf(encodeTimerSession(fullSession())), fullText);
    auto unspellable = fullSession();
    unspellable.latestTimerStartTime = Date{std::nan("")};
    EXPECT_FALSE(encodeTimerSession(unspellable));
    // Whole numbers for doubles, a whole double for the revision, null for an absent optional,
    // keys in another order and keys it does not know.
    const auto session = decodeText(
        R"({"titleMessage":"Rest","startTime":10,"timerSeconds":90,"timerIsRunning":false,)"
        R"("timerRevision":2.0,"isExerciseCountdown":false,"postCountdownRestSeconds":0,)"
        R"("workoutId":null,"future":[1]})");
    ASSERT_TRUE(session);
    EXPECT_EQ(session->startTime, Date{10});
    EXPECT_EQ(session->timerRevision, 2);
    EXPECT_FALSE(session->workoutId);
}

TEST(PersistedTimerSessionCodecTest, AnyMissingOrMistypedKeyMakesTheRecordUnreadable) {
    const auto full = nlohmann::json::parse(fullText);
    for (const char* key : {"startTime", "timerSeconds", "timerIsRunning", "timerRevision",
                            "isExerciseCountdown", "postCountdownRestSeconds", "titleMessage"}) {
        auto json = full;
        json.erase(key);
        EXPECT_FALSE(decodeText(json.dump())) << "without " << key;
    }
    const std::pair<const char*, nlohmann::json> mistyped[] = {
        {"workoutId", 5},
        {"timerIsRunning", 1},
        {"timerRevision", 2.5},
        {"timerRevision", 9223372036854775808.0},
        {"pendingEvent", nlohmann::json{{"syncId", "E-1"}}},
        {"pendingEvent", nlohmann::json{{"syncId", "E-1"}, {"data", "+/9="}}},
    };
    for (const auto& [key, value] : mistyped) {
        auto json = full;
        json[key] = value;
        EXPECT_FALSE(decodeText(json.dump())) << key << " = " << value;
    }
    EXPECT_FALSE(decodeText("{"));
}

rc::Gen<std::string> text() {
    return rc::gen::oneOf(rc::gen::container<std::string>(rc::gen::inRange<char>(' ', '~')),
                          rc::gen::element<std::string>("", "Ruhe \xE2\x8F\xB1", "\"\\\n"));
}

rc::Gen<double> finite() {
    return rc::gen::suchThat(rc::gen::arbitrary<double>(),
                             [](double value) { return std::isfinite(value); });
}

template <class T> rc::Gen<std::optional<T>> maybe(rc::Gen<T> generator) {
    return rc::gen::oneOf(
        rc::gen::just(std::optional<T>()),
        rc::gen::map(std::move(generator), [](T value) { return std::optional(value); }));
}

rc::Gen<Date> date() {
    return rc::gen::construct<Date>(finite());
}

RC_GTEST_PROP(PersistedTimerSessionCodecTest, ReadsBackExactlyWhatItWrote, ()) {
    PersistedRestTimerSession session;
    session.workoutId = *maybe(text());
    session.startTime = *date();
    session.timerSeconds = *finite();
    session.timerIsRunning = *rc::gen::arbitrary<bool>();
    session.timerId = *maybe(text());
    session.timerRevision = *rc::gen::arbitrary<std::int64_t>();
    session.latestTimerStartTime = *maybe(date());
    session.isExerciseCountdown = *rc::gen::arbitrary<bool>();
    session.durationSetId = *maybe(text());
    session.postCountdownRestSeconds = *finite();
    session.titleMessage = *text();
    if (*rc::gen::arbitrary<bool>()) {
        session.pendingEvent = PersistedWatchTimerEvent{*text(), *rc::gen::arbitrary<Data>()};
    }
    const auto bytes = encodeTimerSession(session);
    RC_ASSERT(bytes.has_value());
    RC_ASSERT(decodeTimerSession(*bytes) == std::optional(session));
}

} // namespace

#include "timer/persisted_timer_session.hpp"

#include "platform/values/base64.hpp"
#include "timer/json_numbers.hpp"

#include <nlohmann/json.hpp>

#include <cmath>
#include <string_view>

namespace timer {

namespace {

using Ordered = nlohmann::ordered_json;
using Json = nlohmann::json;

// A field that decoded, or the reason the record is unreadable. Absent optionals are
// std::optional's own nothing; a field that is wrong sets `ok` to false.
class Reader {
public:
    explicit Reader(const Json& object) : object_(object) {}

    bool ok() const { return ok_; }

    std::string string(std::string_view key) { return require(optionalString(key)); }
    std::optional<std::string> optionalString(std::string_view key) {
        return read<std::string>(key, [](const Json& value) -> std::optional<std::string> {
            if (!value.is_string()) {
                return std::nullopt;
            }
            return value.get<std::string>();
        });
    }

    double number(std::string_view key) { return require(optionalNumber(key)); }
    std::optional<double> optionalNumber(std::string_view key) {
        return read<double>(key, [](const Json& value) -> std::optional<double> {
            if (!value.is_number()) {
                return std::nullopt;
            }
            return value.get<double>();
        });
    }

    std::int64_t integer(std::string_view key) {
        return require(
            read<std::int64_t>(key, [](const Json& value) { return wholeNumber(value); }));
    }

    bool boolean(std::string_view key) {
        return require(read<bool>(key, [](const Json& value) -> std::optional<bool> {
            if (!value.is_boolean()) {
                return std::nullopt;
            }
            return value.get<bool>();
        }));
    }

    platform::Date date(std::string_view key) { return platform::Date{number(key)}; }
    std::optional<platform::Date> optionalDate(std::string_view key) {
        const auto seconds = optionalNumber(key);
        return seconds ? std::optional(platform::Date{*seconds}) : std::nullopt;
    }

    const Json* optionalObject(std::string_view key) {
        const Json* value = present(key);
        if (value != nullptr && !value->is_object()) {
            ok_ = false;
            return nullptr;
        }
        return value;
    }

private:
    // The value under key, or null when the key is absent or holds JSON null.
    const Json* present(std::string_view key) const {
        const auto entry = object_.find(key);
        if (entry == object_.end() || entry->is_null()) {
            return nullptr;
        }
        return &*entry;
    }

    template <class T, class Convert> std::optional<T> read(std::string_view key, Convert convert) {
        const Json* value = present(key);
        if (value == nullptr) {
            return std::nullopt;
        }
        auto converted = convert(*value);
        if (!converted) {
            ok_ = false;
        }
        return converted;
    }

    template <class T> T require(std::optional<T> value) {
        if (!value) {
            ok_ = false;
            return T{};
        }
        return std::move(*value);
    }

    const Json& object_;
    bool ok_ = true;
};

bool finite(double value) {
    return std::isfinite(value);
}

Ordered encodeEvent(const PersistedWatchTimerEvent& event) {
    Ordered object = Ordered::object();
    object["syncId"] = event.syncId;
    object["data"] = platform::encodeBase64(event.data);
    return object;
}

std::optional<PersistedWatchTimerEvent> decodeEvent(const Json& object) {
    Reader reader(object);
    PersistedWatchTimerEvent event;
    event.syncId = reader.string("syncId");
    const std::string text = reader.string("data");
    if (!reader.ok()) {
        return std::nullopt;
    }
    auto data = platform::decodeBase64(text);
    if (!data) {
        return std::nullopt;
    }
    event.data = std::move(*data);
    return event;
}

} // namespace

std::optional<platform::Data> encodeTimerSession(const PersistedRestTimerSession& session) {
    if (!finite(session.startTime.sinceReferenceDate) || !finite(session.timerSeconds) ||
        !finite(session.postCountdownRestSeconds) ||
        (session.latestTimerStartTime &&
         !finite(session.latestTimerStartTime->sinceReferenceDate))) {
        return std::nullopt;
    }
    Ordered object = Ordered::object();
    if (session.workoutId) {
        object["workoutId"] = *session.workoutId;
    }
    object["startTime"] = session.startTime.sinceReferenceDate;
    object["timerSeconds"] = session.timerSeconds;
    object["timerIsRunning"] = session.timerIsRunning;
    if (session.timerId) {
        object["timerId"] = *session.timerId;
    }
    object["timerRevision"] = session.timerRevision;
    if (session.latestTimerStartTime) {
        object["latestTimerStartTime"] = session.latestTimerStartTime->sinceReferenceDate;
    }
    object["isExerciseCountdown"] = session.isExerciseCountdown;
    if (session.durationSetId) {
        object["durationSetId"] = *session.durationSetId;
    }
    object["postCountdownRestSeconds"] = session.postCountdownRestSeconds;
    object["titleMessage"] = session.titleMessage;
    if (session.pendingEvent) {
        object["pendingEvent"] = encodeEvent(*session.pendingEvent);
    }
    const std::string text = object.dump(-1, ' ', false, Ordered::error_handler_t::replace);
    return platform::Data(text.begin(), text.end());
}

std::optional<PersistedRestTimerSession> decodeTimerSession(std::span<const std::uint8_t> bytes) {
    const Json object = Json::parse(bytes.begin(), bytes.end(), nullptr, false);
    if (!object.is_object()) {
        return std::nullopt;
    }
    Reader reader(object);
    PersistedRestTimerSession session;
    session.workoutId = reader.optionalString("workoutId");
    session.startTime = reader.date("startTime");
    session.timerSeconds = reader.number("timerSeconds");
    session.timerIsRunning = reader.boolean("timerIsRunning");
    session.timerId = reader.optionalString("timerId");
    session.timerRevision = reader.integer("timerRevision");
    session.latestTimerStartTime = reader.optionalDate("latestTimerStartTime");
    session.isExerciseCountdown = reader.boolean("isExerciseCountdown");
    session.durationSetId = reader.optionalString("durationSetId");
    session.postCountdownRestSeconds = reader.number("postCountdownRestSeconds");
    session.titleMessage = reader.string("titleMessage");
    if (const Json* event = reader.optionalObject("pendingEvent")) {
        session.pendingEvent = decodeEvent(*event);
        if (!session.pendingEvent) {
            return std::nullopt;
        }
    }
    if (!reader.ok()) {
        return std::nullopt;
    }
    return session;
}

platform::Date dateFromTimePoint(platform::TimePoint time) {
    const auto seconds = std::chrono::duration<double>(time.time_since_epoch()).count();
    return platform::Date::fromUnixSeconds(seconds);
}

} // namespace timer

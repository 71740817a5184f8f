#include "widget/model.hpp"

#include <nlohmann/json.hpp>

#include <cmath>

namespace glanceside {
namespace {

using nlohmann::json;

// Nothing for bytes that are not one JSON value (invalid UTF-8 included).
std::optional<json> parse(std::string_view text) {
    json value = json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
    if (value.is_discarded()) {
        return std::nullopt;
    }
    return value;
}

// Each reader leaves `out` alone and returns false when the key is missing or of the wrong type.
bool readString(const json& object, const char* key, std::string& out) {
    const auto it = object.find(key);
    if (it == object.end() || !it->is_string()) {
        return false;
    }
    out = it->get_ref<const std::string&>();
    return true;
}

std::optional<Date> asDate(const json& value) {
    if (!value.is_number()) {
        return std::nullopt;
    }
    const double seconds = value.get<double>();
    if (!std::isfinite(seconds)) {
        return std::nullopt;
    }
    return Date{seconds};
}

// A closed range is its two bounds in order; reversed bounds are no range at all.
std::optional<DateRange> asDateRange(const json& value) {
    if (!value.is_array() || value.size() != 2) {
        return std::nullopt;
    }
    const auto lower = asDate(value[0]);
    const auto upper = asDate(value[1]);
    if (!lower || !upper || *upper < *lower) {
        return std::nullopt;
    }
    return DateRange{*lower, *upper};
}

nlohmann::ordered_json dateRangeJson(const DateRange& range) {
    return nlohmann::ordered_json::array(
        {range.lower.secondsSinceReferenceDate, range.upper.secondsSinceReferenceDate});
}

std::string dump(const json& value) {
    // Invalid UTF-8 in a string the host handed over becomes U+FFFD rather than an exception.
    return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

} // namespace

std::optional<WidgetData> decodeWidgetData(std::string_view text) {
    const auto value = parse(text);
    if (!value || !value->is_object()) {
        return std::nullopt;
    }
    WidgetData data;
    if (!readString(*value, "title", data.title) || !readString(*value, "status", data.status)) {
        return std::nullopt;
    }
    const auto exercises = value->find("exercises");
    if (exercises == value->end() || !exercises->is_array()) {
        return std::nullopt;
    }
    for (const json& item : *exercises) {
        Exercise exercise;
        if (!item.is_object() || !readString(item, "id", exercise.id) ||
            !readString(item, "name", exercise.name)) {
            return std::nullopt;
        }
        data.exercises.push_back(std::move(exercise));
    }
    return data;
}

std::optional<WorkoutActivityAttributes> decodeAttributes(std::string_view text) {
    const auto value = parse(text);
    WorkoutActivityAttributes attributes;
    if (!value || !value->is_object() || !readString(*value, "workoutId", attributes.workoutId) ||
        !readString(*value, "name", attributes.name)) {
        return std::nullopt;
    }
    return attributes;
}

std::string encodeAttributes(const WorkoutActivityAttributes& attributes) {
    return dump(json{{"workoutId", attributes.workoutId}, {"name", attributes.name}});
}

std::optional<WorkoutActivityAttributes::ContentState> decodeContentState(std::string_view text) {
    const auto value = parse(text);
    if (!value || !value->is_object()) {
        return std::nullopt;
    }
    WorkoutActivityAttributes::ContentState state;
    if (!readString(*value, "nextSetName", state.nextSetName) ||
        !readString(*value, "nextSetInfo", state.nextSetInfo) ||
        !readString(*value, "setId", state.setId)) {
        return std::nullopt;
    }
    const auto percentages = value->find("percentageComplete");
    if (percentages == value->end() || !percentages->is_array()) {
        return std::nullopt;
    }
    for (const json& item : *percentages) {
        // A number too large for a double parses as infinity, which JSON could not carry back.
        if (!item.is_number() || !std::isfinite(item.get<double>())) {
            return std::nullopt;
        }
        state.percentageComplete.push_back(item.get<double>());
    }
    const auto start = value->find("startTime");
    if (start == value->end()) {
        return std::nullopt;
    }
    const auto startTime = asDateRange(*start);
    if (!startTime) {
        return std::nullopt;
    }
    state.startTime = *startTime;
    // An optional may be missing or null; present, it must still be well-formed.
    if (const auto it = value->find("lastSetCompletedDate"); it != value->end() && !it->is_null()) {
        state.lastSetCompletedDate = asDateRange(*it);
        if (!state.lastSetCompletedDate) {
            return std::nullopt;
        }
    }
    if (const auto it = value->find("timerSeconds"); it != value->end() && !it->is_null()) {
        if (!it->is_string()) {
            return std::nullopt;
        }
        state.timerSeconds = it->get<std::string>();
    }
    return state;
}

std::string encodeContentState(const WorkoutActivityAttributes::ContentState& state) {
    // Keys in the record's order; nlohmann's ordered_json keeps them as inserted.
    nlohmann::ordered_json value;
    value["nextSetName"] = state.nextSetName;
    value["nextSetInfo"] = state.nextSetInfo;
    value["percentageComplete"] = state.percentageComplete;
    if (state.lastSetCompletedDate) {
        value["lastSetCompletedDate"] = dateRangeJson(*state.lastSetCompletedDate);
    }
    value["setId"] = state.setId;
    if (state.timerSeconds) {
        value["timerSeconds"] = *state.timerSeconds;
    }
    value["startTime"] = dateRangeJson(state.startTime);
    return value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

} // namespace glanceside

#include "phone/widget/widget_content.hpp"
#include "phone/fields.hpp"

#include "platform/values/iso8601.hpp"

#include <cmath>

namespace phone::widget {

using platform::Dictionary;
using platform::Value;

namespace {

constexpr double day = 24 * 60 * 60;

std::string numberText(double number) {
    if (std::nearbyint(number) == number && std::abs(number) < 1e15) {
        return std::to_string(static_cast<std::int64_t>(number));
    }
    return nlohmann::json(number).dump();
}

// A string as it is, a number without a needless fraction; "0" for anything else.
std::string fieldText(const Dictionary& dictionary, std::string_view key) {
    if (const auto* text = stringAt(dictionary, key)) {
        return *text;
    }
    if (auto number = numberAt(dictionary, key)) {
        return numberText(*number);
    }
    return "0";
}

std::string textAt(const Dictionary& dictionary, std::string_view key) {
    const auto* text = stringAt(dictionary, key);
    return text != nullptr ? *text : "";
}

const platform::Array* arrayAt(const Dictionary& dictionary, std::string_view key) {
    auto found = dictionary.find(key);
    return found != dictionary.end() ? found->second.array() : nullptr;
}

// What the lifter does next: "5 x 225lb"; a timed set's "1:00"; a set without load "12 reps".
std::string setInfo(const Dictionary& exercise, const Dictionary& set) {
    const auto reps = fieldText(set, "reps");
    const auto weight = fieldText(set, "weight");
    if (auto duration = numberAt(set, "duration");
        duration && *duration > 0 && (reps.empty() || reps == "0")) {
        const auto seconds = static_cast<std::int64_t>(*duration);
        return std::to_string(seconds / 60) + ":" + (seconds % 60 < 10 ? "0" : "") +
               std::to_string(seconds % 60);
    }
    if (weight == "0" || weight.empty()) {
        return reps + " reps";
    }
    return reps + " x " + weight + textAt(exercise, "weightUnits");
}

bool isComplete(const Dictionary& set) {
    const auto* status = stringAt(set, "status");
    return status != nullptr && *status == "COMPLETE";
}

// Seconds since 2001: ISO 8601 text, or milliseconds since 1970 as the phone keeps them.
std::optional<double> dateAt(const Dictionary& dictionary, std::string_view key) {
    if (const auto* text = stringAt(dictionary, key)) {
        if (auto date = platform::parseInternetDateTime(*text)) {
            return date->sinceReferenceDate;
        }
        return std::nullopt;
    }
    if (auto millis = numberAt(dictionary, key); millis && *millis > 0) {
        return *millis / 1000.0 - unixSecondsAtReferenceDate;
    }
    return std::nullopt;
}

// Calls `visit(exercise, set)` for every set, in order.
template <class F> void eachSet(const Dictionary& workout, F visit) {
    const auto* exercises = arrayAt(workout, "exercises");
    if (exercises == nullptr) {
        return;
    }
    for (const auto& exerciseValue : *exercises) {
        const auto* exercise = exerciseValue.dictionary();
        const auto* sets = exercise != nullptr ? arrayAt(*exercise, "exerciseSets") : nullptr;
        if (sets == nullptr) {
            continue;
        }
        for (const auto& setValue : *sets) {
            if (const auto* set = setValue.dictionary()) {
                if (!visit(*exercise, *set)) {
                    return;
                }
            }
        }
    }
}

} // namespace

std::optional<OpenSet> firstOpenSet(const Dictionary& workout) {
    std::optional<OpenSet> open;
    eachSet(workout, [&](const Dictionary& exercise, const Dictionary& set) {
        if (isComplete(set)) {
            return true;
        }
        open = OpenSet{textAt(set, "id"), textAt(exercise, "name"), setInfo(exercise, set)};
        return false;
    });
    return open;
}

bool isOpenSet(const Dictionary& workout, const std::string& setId) {
    bool open = false;
    eachSet(workout, [&](const Dictionary&, const Dictionary& set) {
        if (textAt(set, "id") != setId) {
            return true;
        }
        open = !isComplete(set);
        return false;
    });
    return open;
}

nlohmann::json contentState(const Dictionary& workout, double fallbackStart,
                            std::optional<RunningRest> runningRest) {
    auto open = firstOpenSet(workout);
    nlohmann::json state{{"nextSetName", open ? open->exerciseName : "Workout complete"},
                         {"nextSetInfo", open ? open->info : ""},
                         {"setId", open ? open->setId : ""}};

    auto progress = nlohmann::json::array();
    if (const auto* exercises = arrayAt(workout, "exercises")) {
        for (const auto& exerciseValue : *exercises) {
            const auto* exercise = exerciseValue.dictionary();
            const auto* sets = exercise != nullptr ? arrayAt(*exercise, "exerciseSets") : nullptr;
            std::size_t done = 0;
            std::size_t all = 0;
            for (const auto& set : sets != nullptr ? *sets : platform::Array{}) {
                ++all;
                done += set.dictionary() != nullptr && isComplete(*set.dictionary()) ? 1 : 0;
            }
            progress.push_back(all == 0 ? 0.0
                                        : static_cast<double>(done) / static_cast<double>(all));
        }
    }
    state["percentageComplete"] = std::move(progress);

    // The rest runs from the newest completion for that set's rest seconds.
    std::optional<double> newest;
    std::optional<double> rest;
    eachSet(workout, [&](const Dictionary&, const Dictionary& set) {
        auto completed = isComplete(set) ? dateAt(set, "dateCompleted") : std::nullopt;
        if (completed && (!newest || *completed >= *newest)) {
            newest = completed;
            rest = numberAt(set, "timerSeconds");
        }
        return true;
    });
    if (runningRest && runningRest->seconds > 0) {
        newest = runningRest->start;
        rest = runningRest->seconds;
    }
    if (newest && rest && *rest > 0) {
        state["lastSetCompletedDate"] = {*newest, *newest + *rest};
        state["timerSeconds"] = numberText(*rest);
    }

    auto start = dateAt(workout, "dateStarted").value_or(fallbackStart);
    state["startTime"] = {start, start + day};
    return state;
}

nlohmann::json activityAttributes(const Dictionary& workout) {
    return {{"workoutId", textAt(workout, "id")}, {"name", textAt(workout, "name")}};
}

std::string activityId(const Dictionary& workout) {
    return "workout-" + textAt(workout, "id");
}

nlohmann::json nextWorkout(const TrainingPlan& plan, std::size_t current, const WorkoutFeed& feed) {
    const auto count = plan.workouts.size();
    for (std::size_t step = 0; step < count; ++step) {
        const auto index = (current + step) % count;
        const auto* planned = plan.workouts[index].dictionary();
        if (planned == nullptr) {
            continue;
        }
        const auto& workout = index == current ? feed.workout() : *planned;
        if (textAt(workout, "status") == "COMPLETE") {
            continue;
        }
        auto exercises = nlohmann::json::array();
        if (const auto* list = arrayAt(workout, "exercises")) {
            for (const auto& exercise : *list) {
                if (const auto* fields = exercise.dictionary()) {
                    exercises.push_back(
                        {{"id", textAt(*fields, "id")}, {"name", textAt(*fields, "name")}});
                }
            }
        }
        const bool running = textAt(workout, "status") == "IN_PROGRESS";
        return {{"title", textAt(workout, "name")},
                {"status", running ? "In Progress" : "Up Next"},
                {"exercises", std::move(exercises)}};
    }
    return {
        {"title", "Plan complete"}, {"status", "Up Next"}, {"exercises", nlohmann::json::array()}};
}

} // namespace phone::widget

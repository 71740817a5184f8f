#include "snapshot_fixture.hpp"

#include "platform/values/bplist.hpp"

#include <cstdio>
#include <random>
#include <string>

namespace bench {

namespace {

using platform::Array;
using platform::Dictionary;
using platform::Value;

class Ids {
public:
    std::string next() {
        char text[37];
        const auto a = rng_();
        const auto b = rng_();
        std::snprintf(text, sizeof text, "%08X-%04X-4%03X-%04X-%012llX",
                      static_cast<unsigned>(a >> 32), static_cast<unsigned>(a >> 16 & 0xFFFF),
                      static_cast<unsigned>(a & 0xFFF),
                      static_cast<unsigned>(0x8000 | (b >> 48 & 0x3FFF)),
                      static_cast<unsigned long long>(b & 0xFFFFFFFFFFFF));
        return text;
    }

private:
    std::mt19937_64 rng_{20240611};
};

const char* const exerciseNames[] = {
    "Back Squat",        "Bench Press", "Deadlift",      "Overhead Press", "Barbell Row",
    "Romanian Deadlift", "Front Squat", "Incline Press", "Pull Up",        "Hip Thrust"};

constexpr double workoutStart = 739'612'800.0; // seconds since 2001

Value set(Ids& ids, const std::string& exerciseId, int exercise, int number) {
    const bool done = number < 5;
    const bool warmup = number < 2;
    Dictionary d{
        {"id", Value(ids.next())},
        {"exerciseId", Value(exerciseId)},
        {"dateCreated", Value(workoutStart - 86400.0 + 7.25 * (exercise * 8 + number))},
        {"status", Value(done ? "completed" : "notStarted")},
        {"setNumber", Value(number + 1)},
        {"sequence", Value(exercise * 8 + number)},
        {"type", Value(warmup ? "warmup" : "working")},
        {"reps", Value(std::to_string(warmup ? 10 : 5))},
        {"weight", Value(std::to_string(95 + 10 * number + 5 * (exercise % 7)))},
        {"targetReps", Value(5)},
        {"targetWeight", Value(std::to_string(135 + 5 * (exercise % 7)))},
        {"dateCompleted",
         Value(done ? workoutStart + 60.0 * (exercise * 8 + number) + 0.375 : 0.0)},
        {"bandColor", Value("#FF5216")},
        {"isPersonalRecord", Value(number == 4 && exercise % 5 == 0)},
        {"restSeconds", Value(warmup ? 60 : 180)},
        {"rpe", Value(warmup ? "" : "8.5")},
    };
    return Value(std::move(d));
}

Value exercise(Ids& ids, int index) {
    const std::string id = ids.next();
    Array sets;
    for (int n = 0; n < 8; ++n) {
        sets.push_back(set(ids, id, index, n));
    }
    Dictionary barbell{{"id", Value(ids.next())},
                       {"name", Value("Olympic bar")},
                       {"weight", Value(45.0)},
                       {"weightUnits", Value("lbs")}};
    Dictionary d{
        {"id", Value(id)},
        {"exerciseTypeId", Value(ids.next())},
        {"name", Value(exerciseNames[index % 10])},
        {"status", Value(index < 20    ? "completed"
                         : index == 20 ? "inProgress"
                                       : "notStarted")},
        {"weightUnits", Value("lbs")},
        {"equipment", Value("barbell")},
        {"isTimed", Value(false)},
        {"isBodyweight", Value(index % 10 == 8)},
        {"isWarmupEnabled", Value(true)},
        {"isSuperset", Value(index % 4 == 3)},
        {"showsPlates", Value(true)},
        {"timerSeconds", Value(0)},
        {"restSeconds", Value(180)},
        {"sequence", Value(index)},
        {"notes", Value(index % 3 == 0 ? "Keep the bar path over mid-foot." : "")},
        {"plateColorScheme", Value("competition")},
        {"lastModified", Value(workoutStart + 30.0 * index + 0.125)},
        {"barbell", Value(std::move(barbell))},
        {"exerciseSets", Value(std::move(sets))},
        {"syncRevision", Value(12)},
    };
    return Value(std::move(d));
}

} // namespace

Value phoneSnapshot() {
    Ids ids;
    Array exercises;
    for (int i = 0; i < 50; ++i) {
        exercises.push_back(exercise(ids, i));
    }
    Dictionary workout{{"id", Value(ids.next())},
                       {"name", Value("Lower body, heavy")},
                       {"status", Value("inProgress")},
                       {"startDate", Value(workoutStart)},
                       {"notes", Value("")},
                       {"exerciseCount", Value(50)}};
    return Value(Dictionary{{"syncRevision", Value(12)},
                            {"workout", Value(std::move(workout))},
                            {"exercises", Value(std::move(exercises))}});
}

platform::Data phoneSnapshotBytes() {
    return platform::encodeBinaryPlist(phoneSnapshot()).value();
}

} // namespace bench

#pragma once

#include "platform/values/value.hpp"

#include <rapidcheck.h>

// rapidcheck generators of property-list values, for codec and decoder properties.
namespace testsupport {

// Keys and strings drawn often from the words the phone uses, so that generated dictionaries
// reach the decoders' interesting paths instead of being dropped at the first check.
inline rc::Gen<std::string> phoneishString() {
    static const std::vector<std::string> words{"id",
                                                "name",
                                                "status",
                                                "exerciseSets",
                                                "weightUnits",
                                                "barbell",
                                                "weight",
                                                "units",
                                                "reps",
                                                "type",
                                                "sequence",
                                                "superset",
                                                "timerSeconds",
                                                "warmupTimerSeconds",
                                                "dateCompleted",
                                                "plateMultiplier",
                                                "multiplier",
                                                "isReps",
                                                "isDuration",
                                                "week",
                                                "exercises",
                                                "setNumber",
                                                "maxReps",
                                                "duration",
                                                "bandColor",
                                                "templateExerciseId",
                                                "NOT_STARTED",
                                                "COMPLETE",
                                                "IN_PROGRESS",
                                                "lb",
                                                "kg",
                                                "warmup",
                                                "myoReps",
                                                "5",
                                                "3a",
                                                "1e3",
                                                "-0",
                                                "nan",
                                                "inf",
                                                "2024-03-01T17:05:00Z",
                                                "{\"weight\":20}",
                                                ""};
    return rc::gen::oneOf(rc::gen::elementOf(words), rc::gen::arbitrary<std::string>());
}

// One of the generators, chosen with the given weights.
template <class T> rc::Gen<T> weighted(std::vector<std::pair<std::size_t, rc::Gen<T>>> choices) {
    std::size_t total = 0;
    for (const auto& choice : choices) {
        total += choice.first;
    }
    return rc::gen::mapcat(rc::gen::inRange<std::size_t>(0, total),
                           [choices = std::move(choices)](std::size_t pick) {
                               for (const auto& [weight, gen] : choices) {
                                   if (pick < weight) {
                                       return gen;
                                   }
                                   pick -= weight;
                               }
                               return choices.back().second;
                           });
}

inline rc::Gen<platform::Value> arbitraryValue(int depth, bool withNull);

// Dictionaries whose values have at most the given depth.
inline rc::Gen<platform::Dictionary> arbitraryDictionary(int depth, bool withNull) {
    auto element = rc::gen::lazy([depth, withNull] { return arbitraryValue(depth, withNull); });
    return rc::gen::map(
        rc::gen::resize(8, rc::gen::container<std::vector<std::pair<std::string, platform::Value>>>(
                               rc::gen::pair(phoneishString(), element))),
        [](std::vector<std::pair<std::string, platform::Value>> entries) {
            platform::Dictionary d;
            for (auto& [key, value] : entries) {
                d.insert_or_assign(std::move(key), std::move(value));
            }
            return d;
        });
}

// Values of bounded depth; withNull adds the null marker, which is not a property-list type.
inline rc::Gen<platform::Value> arbitraryValue(int depth, bool withNull) {
    using platform::Value;
    std::vector<std::pair<std::size_t, rc::Gen<Value>>> leaves{
        {2, rc::gen::map(rc::gen::arbitrary<bool>(), [](bool b) { return Value(b); })},
        {3,
         rc::gen::map(rc::gen::arbitrary<std::int64_t>(), [](std::int64_t i) { return Value(i); })},
        {2, rc::gen::map(rc::gen::arbitrary<double>(), [](double d) { return Value(d); })},
        {4, rc::gen::map(phoneishString(), [](std::string s) { return Value(std::move(s)); })},
        {1, rc::gen::map(rc::gen::arbitrary<double>(),
                         [](double d) { return Value(platform::Date{d}); })},
        {1, rc::gen::map(rc::gen::container<platform::Data>(rc::gen::arbitrary<std::uint8_t>()),
                         [](platform::Data d) { return Value(std::move(d)); })},
    };
    if (withNull) {
        leaves.push_back({1, rc::gen::just(Value())});
    }
    if (depth <= 0) {
        return weighted(std::move(leaves));
    }
    auto element = rc::gen::lazy([depth, withNull] { return arbitraryValue(depth - 1, withNull); });
    auto array = rc::gen::map(rc::gen::resize(6, rc::gen::container<platform::Array>(element)),
                              [](platform::Array a) { return Value(std::move(a)); });
    auto dictionary = rc::gen::map(arbitraryDictionary(depth - 1, withNull),
                                   [](platform::Dictionary d) { return Value(std::move(d)); });
    leaves.push_back({3, array});
    leaves.push_back({4, dictionary});
    return weighted(std::move(leaves));
}

} // namespace testsupport

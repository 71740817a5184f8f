#pragma once

#include "platform/values/value.hpp"

#include <rapidcheck.h>

#include <sstream>

// rapidcheck generators of property-list values, for codec and decoder properties.
namespace testsupport {

// Keys and strings drawn often from the words the phone uses, so that generated dictionaries
// reach the decoders' interesting paths instead of being dropped at the first check.
inline rc::Gen<std::string> phoneishString() {
    static const std::vector<std::string> words = [] {
        std::vector<std::string> out{""};
        std::istringstream in(
            "id name status exerciseSets weightUnits barbell weight units reps type sequence "
            "superset timerSeconds warmupTimerSeconds dateCompleted plateMultiplier multiplier "
            "isReps isDuration week exercises setNumber maxReps duration bandColor "
            "templateExerciseId NOT_STARTED COMPLETE IN_PROGRESS lb kg warmup myoReps 5 3a 1e3 -0 "
            "nan inf 2024-03-01T17:05:00Z {\"weight\":20}");
        for (std::string word; in >> word;) {
            out.push_back(word);
        }
        return out;
    }();
    return rc::gen::oneOf(rc::gen::elementOf(words), rc::gen::arbitrary<std::string>());
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
    auto leaves = rc::gen::weightedOneOf<Value>({
        {2, rc::gen::map(rc::gen::arbitrary<bool>(), [](bool b) { return Value(b); })},
        {3,
         rc::gen::map(rc::gen::arbitrary<std::int64_t>(), [](std::int64_t i) { return Value(i); })},
        {2, rc::gen::map(rc::gen::arbitrary<double>(), [](double d) { return Value(d); })},
        {4, rc::gen::map(phoneishString(), [](std::string s) { return Value(std::move(s)); })},
        {1, rc::gen::map(rc::gen::arbitrary<double>(),
                         [](double d) { return Value(platform::Date{d}); })},
        {1, rc::gen::map(rc::gen::arbitrary<platform::Data>(),
                         [](platform::Data d) { return Value(std::move(d)); })},
    });
    if (withNull) {
        leaves = rc::gen::weightedOneOf<Value>({{13, leaves}, {1, rc::gen::just(Value())}});
    }
    if (depth <= 0) {
        return leaves;
    }
    auto element = rc::gen::lazy([depth, withNull] { return arbitraryValue(depth - 1, withNull); });
    auto array = rc::gen::map(rc::gen::resize(6, rc::gen::container<platform::Array>(element)),
                              [](platform::Array a) { return Value(std::move(a)); });
    auto dictionary = rc::gen::map(arbitraryDictionary(depth - 1, withNull),
                                   [](platform::Dictionary d) { return Value(std::move(d)); });
    return rc::gen::weightedOneOf<Value>({{13, leaves}, {3, array}, {4, dictionary}});
}

} // namespace testsupport

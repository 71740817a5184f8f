#include "model/decoding.hpp"
#include "support/arbitrary_value.hpp"

#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

// Whatever the phone sends, decoding gives records or nothing; it never crashes, throws or
// produces a record without its identifying fields.
RC_GTEST_PROP(DecodingProperties, ExerciseDecodingNeverFailsOnArbitraryDictionaries, ()) {
    auto fields = *testsupport::arbitraryDictionary(3, true);
    // Most of the time give it its identifying fields, so that every other field is exercised.
    if (*rc::gen::inRange(0, 4) != 0) {
        fields.insert_or_assign("id", platform::Value("e1"));
        fields.insert_or_assign("name", platform::Value("Squat"));
        fields.insert_or_assign("status", platform::Value("NOT_STARTED"));
        auto sets = *rc::gen::container<platform::Array>(
            rc::gen::map(testsupport::arbitraryDictionary(2, true), [](platform::Dictionary set) {
                set.insert_or_assign("id", platform::Value("s1"));
                set.insert_or_assign("status", platform::Value("NOT_STARTED"));
                return platform::Value(std::move(set));
            }));
        fields.insert_or_assign("exerciseSets", platform::Value(std::move(sets)));
    }
    const auto* dictionary = &fields;
    auto exercise = model::decodeExercise(*dictionary, 0);
    if (exercise) {
        RC_ASSERT(dictionary->at("id") == platform::Value(exercise->id));
        for (const auto& set : exercise->exerciseSets.get()) {
            RC_ASSERT(static_cast<bool>(set));
        }
    } else {
        auto isString = [&](const char* key) {
            return dictionary->contains(key) &&
                   dictionary->at(key).kind() == platform::ValueKind::string;
        };
        bool identified = isString("id") && isString("name") && isString("status");
        RC_ASSERT(!identified);
    }
}

RC_GTEST_PROP(DecodingProperties, WorkoutAndListDecodingNeverFail, ()) {
    auto value = *testsupport::arbitraryValue(4, true);
    auto list = model::decodeExerciseList(&value);
    if (list) {
        RC_ASSERT(list->size() <= value.array()->size());
    }
    if (const auto* dictionary = value.dictionary()) {
        auto workout = model::decodeWorkout(*dictionary);
        if (workout) {
            RC_ASSERT(dictionary->at("week") == platform::Value(workout->week));
        }
    }
}

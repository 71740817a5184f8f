// Deleting a set on the watch: the labels renumbered, then the event goes to the sink.
#include "model/exercise.hpp"
#include "support/workout_builders.hpp"

#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

namespace {

using model::SetType;
using platform::Dictionary;
using platform::Value;

struct Sent {
    std::vector<Dictionary> events;
    model::EditEventSink sink() {
        return [this](Dictionary message) { events.push_back(std::move(message)); };
    }
};

model::ExerciseRef withLabels(const std::vector<std::string>& labels) {
    std::vector<model::ExerciseSetRef> sets;
    for (std::size_t i = 0; i < labels.size(); ++i) {
        sets.push_back(testsupport::makeSet("S-" + std::to_string(i)));
        sets.back()->setNumber = labels[i];
        sets.back()->sequence = static_cast<std::int64_t>(10 + i);
    }
    return testsupport::makeExercise("E-1", std::move(sets));
}

std::vector<std::string> labels(const model::ExerciseRef& exercise) {
    std::vector<std::string> result;
    for (const auto& set : exercise->exerciseSets.get()) {
        result.push_back(set->setNumber.get());
    }
    return result;
}

TEST(DeleteSet, RemovesEveryMatchRenumbersNumericLabelsAndAlwaysSends) {
    auto exercise = withLabels({"W", "1", "2", "3", "+7", "007", "99999999999999999999"});
    exercise->exerciseSets->at(3)->id = std::string("S-1");
    Sent sent;
    exercise->deleteSet("S-1", sent.sink());
    EXPECT_EQ(labels(exercise),
              (std::vector<std::string>{"W", "2", "3", "4", "99999999999999999999"}));
    EXPECT_EQ(exercise->exerciseSets->at(1)->sequence, 12) << "sequences are the phone's";
    exercise->deleteSet("nope", sent.sink());
    EXPECT_EQ(sent.events.back(),
              (Dictionary{{"type", "delete_set"}, {"payload", Dictionary{{"id", "nope"}}}}));
}

RC_GTEST_PROP(DeleteSet, NumericLabelsFollowThePositionAfterAnyDeletion,
              (std::vector<bool> numeric, std::size_t pick)) {
    std::vector<std::string> given;
    for (std::size_t i = 0; i < numeric.size(); ++i) {
        given.push_back(numeric[i] ? std::to_string(i * 3) : "W" + std::to_string(i));
    }
    auto exercise = withLabels(given);
    Sent sent;
    exercise->deleteSet(numeric.empty() ? "none" : "S-" + std::to_string(pick % numeric.size()),
                        sent.sink());
    const auto after = labels(exercise);
    RC_ASSERT(after.size() == (numeric.empty() ? 0 : numeric.size() - 1));
    for (std::size_t p = 0; p < after.size(); ++p) {
        RC_ASSERT(after[p].starts_with("W") || after[p] == std::to_string(p + 1));
    }
    RC_ASSERT(sent.events.size() == 1u);
}

} // namespace

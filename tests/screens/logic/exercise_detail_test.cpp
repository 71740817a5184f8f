#include "screens/logic/exercise_detail.hpp"

#include "support/watch_core_fixture.hpp"
#include "support/workout_builders.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

using model::SetType;
using platform::Value;
using screens::Binding;
using screens::ExerciseDetail;
using screens::ExerciseDetailSheet;
using screens::MoreMenuAction;

namespace {

namespace status = model::status;
using namespace std::chrono_literals;

class ExerciseDetailTest : public testsupport::WatchCoreTest {
protected:
    std::unique_ptr<ExerciseDetail> open(std::vector<model::ExerciseSetRef> sets) {
        exercise = testsupport::makeExercise("E-1", std::move(sets));
        exercise->name = "Squat";
        return std::make_unique<ExerciseDetail>(
            exercise,
            ExerciseDetail::Services{restTimer(), executor.main(), log, data().editEvents(),
                                     [this] { ++leftScreen; }},
            Binding<int>([this] { return page; }, [this](int value) { page = value; }),
            [this](const model::ExerciseRef& e) { goBackCalls.push_back(e->id); },
            [this](const model::ExerciseRef& e) { timerMessageCalls.push_back(e->id); },
            [](const model::ExerciseRef&) {});
    }

    std::vector<testsupport::SentMessage> events() {
        return testsupport::sentMessages(core->outbox());
    }
    std::vector<std::string> eventTypes() { return sentTypes(); }

    static model::ExerciseSetRef makeSet(std::string id, std::string label,
                                         std::string_view status = model::status::notStarted) {
        auto set = testsupport::makeSet(std::move(id), std::string(status));
        set->setNumber = std::move(label);
        return set;
    }

    model::ExerciseRef exercise;
    int page = 0;
    int leftScreen = 0;
    std::vector<std::string> goBackCalls;
    std::vector<std::string> timerMessageCalls;
};

TEST_F(ExerciseDetailTest, ATimedSetCountsDownThenCompletesAsAManualDurationCompletion) {
    auto detail = open({makeSet("S-1", "1"), makeSet("S-2", "2")});
    exercise->isDuration = true;
    auto set = exercise->exerciseSets->front();
    set->duration = std::optional<std::int64_t>(60);
    set->timerSeconds = 90;
    detail->tapActionButton();
    EXPECT_EQ(set->status.get(), status::inProgress);
    EXPECT_TRUE(restTimer().isExerciseCountdown.get());
    EXPECT_EQ(restTimer().titleMessage.get(), "Squat");
    const auto countdownId = restTimer().timerId;

    executor.advanceBy(20s);
    detail->tapActionButton();
    EXPECT_EQ(set->status.get(), status::complete);
    EXPECT_EQ(timerMessageCalls, std::vector<std::string>{"E-1"});
    EXPECT_EQ(restTimer().timerSeconds.get(), 90.0);
    const auto sent = events();
    ASSERT_EQ(sent.size(), 2U);
    EXPECT_EQ(sent[0].payload.at("isExerciseCountdown"), Value(true));
    EXPECT_EQ(sent[1].payload.at("isManualDurationCompletion"), Value(true));
    EXPECT_EQ(sent[1].payload.at("sourceTimerId"), Value(*countdownId));
}

TEST_F(ExerciseDetailTest, ASetStartsARestOnlyWithRestAndADoneSetMovesOnAfterTheDelay) {
    auto detail = open({makeSet("S-1", "1"), makeSet("S-2", "2"), makeSet("S-3", "3")});
    exercise->exerciseSets->at(1)->timerSeconds = 0;
    exercise->exerciseSets->at(2)->timerSeconds = 120;
    detail->tapActionButton();
    page = 1;
    detail->tapActionButton();
    EXPECT_FALSE(restTimer().timerIsRunning.get());
    EXPECT_TRUE(timerMessageCalls.empty());
    page = 2;
    detail->tapActionButton();
    EXPECT_TRUE(restTimer().timerIsRunning.get());
    EXPECT_EQ(timerMessageCalls, std::vector<std::string>{"E-1"});
    EXPECT_EQ(sentTypes(), (std::vector<std::string>(3, "complete_set")));

    // A tap on a done set moves on once the delay has passed: to the next set not done, back to the
    // list when all are done, or to the main screen in a superset.
    exercise->exerciseSets->at(2)->status = std::string("NOT_STARTED");
    page = 0;
    detail->tapActionButton();
    executor.advanceBy(399ms);
    EXPECT_EQ(page, 0);
    executor.advanceBy(1ms);
    EXPECT_EQ(page, 2) << "the next set not done";
    exercise->exerciseSets->at(2)->status = std::string(status::complete);
    detail->tapActionButton();
    executor.advanceBy(400ms);
    EXPECT_EQ(leftScreen, 1);
    exercise->superset = 1;
    detail->tapActionButton();
    executor.advanceBy(400ms);
    EXPECT_EQ(goBackCalls, std::vector<std::string>{"E-1"});
    detail->tapActionButton();
    detail.reset();
    executor.advanceBy(1s);
    EXPECT_EQ(goBackCalls.size(), 1U) << "a screen gone does nothing";
}

TEST_F(ExerciseDetailTest, ThePlateCalculatorLoadsWhatIsTypedOrNothing) {
    restTimer().availableWeightPlates = std::vector<model::Plate>{
        {"P-45", "lb", 45, 4}, {"P-25", "lb", 25, 2}, {"P-20", "kg", 20, 0}};
    auto detail = open({makeSet("S-1", "1")});
    detail->chooseMoreMenuEntry(MoreMenuAction::plateCalculator);
    EXPECT_EQ(detail->activeSheet(), ExerciseDetailSheet::plateCalculator);
    EXPECT_EQ(restTimer().titleMessage.get(), "225 lb");
    const auto rows = detail->plateCalculatorRows();
    ASSERT_EQ(rows.size(), 1U);
    EXPECT_EQ(rows[0].perSide, 2);
    for (const char* typed : {"abc", "1e400"}) {
        exercise->exerciseSets->front()->weight = std::string(typed);
        detail->chooseMoreMenuEntry(MoreMenuAction::plateCalculator);
        EXPECT_TRUE(detail->plateCalculatorRows().empty()) << typed;
    }
}

TEST_F(ExerciseDetailTest, TheKindPickerLabelsRegularByPositionAndOthersByLetter) {
    auto detail = open({makeSet("S-1", "W")});
    exercise->exerciseSets->front()->sequence = 3;
    exercise->timerSeconds = 90;
    exercise->warmupTimerSeconds = 30;
    const auto& set = *exercise->exerciseSets->front();
    detail->chooseSetType(SetType::regular);
    EXPECT_EQ(set.setNumber.get(), "4");
    EXPECT_EQ(set.timerSeconds, 90);
    detail->chooseSetType(SetType::warmup);
    EXPECT_EQ(set.setNumber.get(), "W");
    EXPECT_EQ(set.timerSeconds, 30);
    EXPECT_EQ(events().at(1).payload, (platform::Dictionary{{"id", "S-1"}, {"type", "warmup"}}));
    page = 5;
    detail->chooseSetType(SetType::drop);
    EXPECT_EQ(events().size(), 2U) << "outside the sets nothing changes";
}

} // namespace

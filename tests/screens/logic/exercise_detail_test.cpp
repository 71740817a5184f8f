#include "screens/logic/exercise_detail.hpp"

#include "screen_fixture.hpp"

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
using screens::SymbolLabel;
using screens::Tint;
using screentest::makeExercise;
using screentest::makeSet;

namespace {

namespace status = model::status;
using namespace std::chrono_literals;

class ExerciseDetailTest : public screentest::ScreenFixture {
protected:
    std::unique_ptr<ExerciseDetail> open(model::ExerciseRef shown) {
        exercise = std::move(shown);
        return std::make_unique<ExerciseDetail>(
            exercise,
            ExerciseDetail::Services{restTimer, exec.main(), log, editEvents(),
                                     [this] { ++leftScreen; }},
            Binding<int>([this] { return page; }, [this](int value) { page = value; }),
            [this](const model::ExerciseRef& e) { goBackCalls.push_back(e->id); },
            [this](const model::ExerciseRef& e) { timerMessageCalls.push_back(e->id); },
            [this](const model::ExerciseRef& e) { deleteCalls.push_back(e->id); });
    }

    std::vector<std::string> eventTypes() {
        std::vector<std::string> types;
        for (const auto& event : events()) {
            types.push_back(event.type);
        }
        return types;
    }

    model::ExerciseRef exercise;
    int page = 0;
    int leftScreen = 0;
    std::vector<std::string> goBackCalls;
    std::vector<std::string> timerMessageCalls;
    std::vector<std::string> deleteCalls;
};

TEST_F(ExerciseDetailTest, ExerciseWithoutSetsOffersOnlyAddAndDelete) {
    auto detail = open(makeExercise({}));
    EXPECT_FALSE(detail->hasSets());
    EXPECT_EQ(detail->title(), "Set 1/0");
    EXPECT_EQ(detail->badge(), (SymbolLabel{"questionmark.circle.fill", Tint::red}));
    EXPECT_EQ(detail->actionButtonLabel(), (SymbolLabel{"questionmark", Tint::grey}));
    EXPECT_EQ(detail->nextButtonSymbol(), std::nullopt);
    detail->tapActionButton();
    exec.runUntilIdle();
    EXPECT_TRUE(events().empty());
    EXPECT_EQ(leftScreen, 0);

    detail->deleteExercise();
    EXPECT_EQ(deleteCalls, std::vector<std::string>{"E-1"});
    detail->addSet();
    ASSERT_EQ(detail->setCount(), 1U);
    EXPECT_EQ(detail->title(), "Set 1/1");
    EXPECT_EQ(detail->badge(), (SymbolLabel{"1.circle.fill", Tint::white}));
    EXPECT_EQ(eventTypes(), std::vector<std::string>{"add_set"});
}

TEST_F(ExerciseDetailTest, TitleBadgeAndNextButtonFollowThePage) {
    auto detail = open(makeExercise(
        {makeSet("S-1", "W"), makeSet("S-2", "1"), makeSet("S-3", "2"), makeSet("S-4", "3")}));
    EXPECT_EQ(detail->badge(), (SymbolLabel{"w.circle.fill", Tint::white}));
    detail->next();
    EXPECT_EQ(detail->title(), "Set 2/4");
    EXPECT_EQ(detail->badge().symbol, "1.circle.fill");
    EXPECT_EQ(detail->nextButtonSymbol(), "chevron.down");
    detail->next();
    detail->next();
    EXPECT_EQ(page, 3);
    EXPECT_EQ(detail->nextButtonSymbol(), "square");
    detail->next();
    EXPECT_EQ(page, 3);

    page = 9;
    EXPECT_EQ(detail->badge().tint, Tint::red);
    EXPECT_EQ(detail->nextButtonSymbol(), std::nullopt);
}

TEST_F(ExerciseDetailTest, PageFollowsSetsRemovedElsewhereButNeverGoesNegative) {
    auto detail =
        open(makeExercise({makeSet("S-1", "1"), makeSet("S-2", "2"), makeSet("S-3", "3")}));
    page = 2;
    // The phone drops the last two sets.
    exercise->exerciseSets.modify([](auto& sets) { sets.resize(1); });
    EXPECT_EQ(page, 0);
    // A write that keeps the count does not move the page.
    page = 0;
    exercise->exerciseSets.modify([](auto&) {});
    EXPECT_EQ(page, 0);
}

TEST_F(ExerciseDetailTest, TimedSetStartsItsCountdownThenCompletesAsManualDurationCompletion) {
    auto set = makeSet("S-1", "1");
    set->duration = std::optional<std::int64_t>(60);
    set->timerSeconds = 90;
    auto shown = makeExercise({set, makeSet("S-2", "2")});
    shown->isDuration = true;
    auto detail = open(shown);
    EXPECT_EQ(detail->actionButtonLabel(), (SymbolLabel{"stopwatch", Tint::grey}));

    detail->tapActionButton();
    EXPECT_EQ(set->status.get(), status::inProgress);
    EXPECT_EQ(detail->actionButtonLabel(), (SymbolLabel{"checkmark", Tint::grey}));
    EXPECT_TRUE(restTimer.timerIsRunning.get());
    EXPECT_TRUE(restTimer.isExerciseCountdown.get());
    EXPECT_EQ(restTimer.titleMessage.get(), "Squat");
    EXPECT_TRUE(timerMessageCalls.empty());
    const auto countdownId = restTimer.timerId;
    ASSERT_TRUE(countdownId.has_value());
    const auto countdownStart = restTimer.startTime.get();

    exec.advanceBy(20s);
    detail->tapActionButton();
    EXPECT_EQ(set->status.get(), status::complete);
    EXPECT_EQ(detail->actionButtonLabel(), (SymbolLabel{"checkmark", Tint::blue}));
    EXPECT_EQ(timerMessageCalls, std::vector<std::string>{"E-1"});
    EXPECT_FALSE(restTimer.isExerciseCountdown.get());
    EXPECT_EQ(restTimer.timerSeconds.get(), 90.0);

    const auto sent = events();
    ASSERT_EQ(sent.size(), 2U);
    EXPECT_EQ(sent[0].type, "update_set");
    EXPECT_EQ(sent[0].payload.at("isExerciseCountdown"), Value(true));
    EXPECT_EQ(sent[1].type, "complete_set");
    EXPECT_EQ(sent[1].payload.at("isManualDurationCompletion"), Value(true));
    EXPECT_EQ(sent[1].payload.at("sourceTimerId"), Value(*countdownId));
    EXPECT_EQ(sent[1].payload.at("sourceTimerStartTime"), Value(countdownStart.unixMillis()));
}

TEST_F(ExerciseDetailTest, CompletingASetStartsTheRestOnlyWhenItHasRest) {
    auto noRest = makeSet("S-1", "1");
    auto zeroRest = makeSet("S-2", "2");
    zeroRest->timerSeconds = 0;
    auto withRest = makeSet("S-3", "3");
    withRest->timerSeconds = 120;
    auto detail = open(makeExercise({noRest, zeroRest, withRest}));

    detail->tapActionButton();
    page = 1;
    detail->tapActionButton();
    EXPECT_EQ(noRest->status.get(), status::complete);
    EXPECT_EQ(zeroRest->status.get(), status::complete);
    EXPECT_FALSE(restTimer.timerIsRunning.get());
    EXPECT_TRUE(timerMessageCalls.empty());

    page = 2;
    detail->tapActionButton();
    EXPECT_EQ(withRest->status.get(), status::complete);
    EXPECT_TRUE(restTimer.timerIsRunning.get());
    EXPECT_EQ(timerMessageCalls, std::vector<std::string>{"E-1"});
    EXPECT_EQ(eventTypes(),
              (std::vector<std::string>{"complete_set", "complete_set", "complete_set"}));
    EXPECT_EQ(events()[2].payload.at("isManualDurationCompletion"), Value(false));
}

TEST_F(ExerciseDetailTest, TapOnACompletedSetMovesOnAfterTheDelay) {
    auto open1 = makeSet("S-2", "2");
    auto detail =
        open(makeExercise({makeSet("S-1", "1", status::complete), open1, makeSet("S-3", "3")}));
    detail->tapActionButton();
    exec.advanceBy(399ms);
    EXPECT_EQ(page, 0);
    exec.advanceBy(1ms);
    EXPECT_EQ(page, 1);

    // Everything done: back to the list, once the delay has passed.
    open1->status = std::string(status::complete);
    exercise->exerciseSets.get()[2]->status = std::string(status::complete);
    detail->tapActionButton();
    EXPECT_EQ(leftScreen, 0);
    exec.advanceBy(400ms);
    EXPECT_EQ(leftScreen, 1);
    EXPECT_TRUE(goBackCalls.empty());
    EXPECT_TRUE(events().empty());
}

TEST_F(ExerciseDetailTest, MoveOnInASupersetIsTheMainScreensAndAGoneScreenDoesNothing) {
    auto shown = makeExercise({makeSet("S-1", "1", status::complete), makeSet("S-2", "2")});
    shown->superset = 1;
    auto detail = open(shown);
    detail->tapActionButton();
    exec.advanceBy(400ms);
    EXPECT_EQ(goBackCalls, std::vector<std::string>{"E-1"});
    EXPECT_EQ(page, 0);

    detail->tapActionButton();
    detail.reset();
    exec.advanceBy(1s);
    EXPECT_EQ(goBackCalls.size(), 1U);
}

TEST_F(ExerciseDetailTest, MoreMenuAddsAndDeletesSets) {
    auto detail = open(makeExercise({makeSet("S-1", "1"), makeSet("S-2", "2")}));
    const auto entries = ExerciseDetail::moreMenuEntries();
    ASSERT_EQ(entries.size(), 3U);
    EXPECT_EQ(entries[0].title, "Add Set");
    EXPECT_EQ(entries[1].title, "Delete Set");
    EXPECT_EQ(entries[1].background, Tint::red);
    EXPECT_EQ(entries[2].title, "Plate Calculator");

    detail->openMoreMenu();
    detail->chooseMoreMenuEntry(MoreMenuAction::addSet);
    EXPECT_EQ(detail->setCount(), 3U);
    EXPECT_EQ(detail->activeSheet(), std::nullopt);

    // Deleting the last set while it is shown goes back one page.
    page = 2;
    detail->openMoreMenu();
    detail->chooseMoreMenuEntry(MoreMenuAction::deleteSet);
    EXPECT_EQ(page, 1);
    EXPECT_EQ(detail->setCount(), 2U);
    EXPECT_EQ(detail->activeSheet(), std::nullopt);

    page = 0;
    detail->chooseMoreMenuEntry(MoreMenuAction::deleteSet);
    detail->chooseMoreMenuEntry(MoreMenuAction::deleteSet);
    EXPECT_EQ(detail->setCount(), 0U);
    EXPECT_EQ(page, 0);
    // Nothing to delete: no event for a set that is not there.
    detail->chooseMoreMenuEntry(MoreMenuAction::deleteSet);
    EXPECT_EQ(eventTypes(),
              (std::vector<std::string>{"add_set", "delete_set", "delete_set", "delete_set"}));
    // The page is still the first, so the next set added is the one shown.
    detail->addSet();
    EXPECT_NE(detail->currentSet(), nullptr);
}

TEST_F(ExerciseDetailTest, PlateCalculatorShowsTheCurrentSetsLoad) {
    restTimer.availableWeightPlates = std::vector<model::Plate>{
        {"P-45", "lb", 45, 4}, {"P-25", "lb", 25, 2}, {"P-20", "kg", 20, 0}};
    auto set = makeSet("S-1", "1");
    auto shown = makeExercise({set});
    shown->barbell = {"Olympic Bar", 45, "lb"};
    auto detail = open(shown);

    detail->openMoreMenu();
    detail->chooseMoreMenuEntry(MoreMenuAction::plateCalculator);
    EXPECT_EQ(detail->activeSheet(), ExerciseDetailSheet::plateCalculator);
    EXPECT_EQ(restTimer.titleMessage.get(), "225 lb");
    const auto rows = detail->plateCalculatorRows();
    ASSERT_EQ(rows.size(), 1U);
    EXPECT_EQ(rows[0].id, "P-45");
    EXPECT_EQ(rows[0].perSide, 2);

    // Whatever was typed, the preview stays usable: text that is not a number loads nothing.
    for (const char* typed : {"abc", "", "1e400", "22,5", " 225", "nan"}) {
        set->weight = std::string(typed);
        detail->chooseMoreMenuEntry(MoreMenuAction::plateCalculator);
        EXPECT_TRUE(detail->plateCalculatorRows().empty()) << typed;
        EXPECT_EQ(restTimer.titleMessage.get(), std::string(typed) + " lb");
    }
}

TEST_F(ExerciseDetailTest, KindPickerLabelsRegularByPositionAndOthersByLetter) {
    auto set = makeSet("S-1", "W");
    set->sequence = 3;
    auto detail = open(makeExercise({set}));
    exercise->timerSeconds = 90;
    exercise->warmupTimerSeconds = 30;

    const auto rows = ExerciseDetail::setTypeRows();
    ASSERT_EQ(rows.size(), model::setTypeInfos().size());
    EXPECT_EQ(rows[0].name, "Warm up");
    EXPECT_EQ(ExerciseDetail::setTypeOptionsTitle, "Change Set Type");

    detail->openSetTypeOptions();
    detail->chooseSetType(SetType::regular);
    EXPECT_EQ(detail->activeSheet(), std::nullopt);
    EXPECT_EQ(set->setNumber.get(), "4");
    EXPECT_EQ(set->type.get(), SetType::regular);
    EXPECT_EQ(set->timerSeconds, 90);

    detail->chooseSetType(SetType::pr);
    EXPECT_EQ(set->setNumber.get(), "P");
    EXPECT_EQ(detail->badge().symbol, "p.circle.fill");
    detail->chooseSetType(SetType::warmup);
    EXPECT_EQ(set->timerSeconds, 30);

    const auto sent = events();
    ASSERT_EQ(sent.size(), 3U);
    EXPECT_EQ(sent[1].type, "update_set");
    EXPECT_EQ(sent[1].payload.at("id"), Value("S-1"));
    EXPECT_EQ(sent[1].payload.at("type"), Value("pr"));

    // Outside the sets the picker changes nothing.
    page = 5;
    detail->chooseSetType(SetType::drop);
    EXPECT_EQ(events().size(), 3U);
}

} // namespace

#include "screens/logic/set_editor.hpp"

#include "platform/files/file_system.hpp"
#include "screen_fixture.hpp"
#include "sync/inbound/watch_data_source.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

using screens::KeypadKey;
using screens::NumberLocale;
using screens::parseBandColor;
using screens::RgbaColor;
using screens::SetEditor;
using screens::SetEditorSheet;
using screens::SetEditReports;
using screens::SetFieldBlock;
using screens::SetFieldKind;

namespace {

struct FieldReport {
    std::string setId;
    std::string field;
    std::string text;
    bool operator==(const FieldReport&) const = default;
};

class SetEditorTest : public ::testing::Test {
protected:
    SetEditorTest() {
        set = screentest::makeSet("S-1", "1");
        exercise = screentest::makeExercise({set});
    }

    SetEditReports reports() {
        return {[this](const std::string& id, const std::string& field, const std::string& text) {
                    fieldReports.push_back({id, field, text});
                },
                [this](const std::string& id, std::int64_t seconds) {
                    durationReports.emplace_back(id, seconds);
                }};
    }

    model::ExerciseSetRef set;
    model::ExerciseRef exercise;
    std::vector<FieldReport> fieldReports;
    std::vector<std::pair<std::string, std::int64_t>> durationReports;
};

TEST_F(SetEditorTest, BlocksFollowTheExercisesFlagsInOrder) {
    exercise->isDuration = exercise->isDistance = exercise->isRepsInReserve = true;
    exercise->isRatePerceivedExertion = exercise->isBand = true;
    exercise->weightUnits = "kg";
    SetEditor all(exercise, set, reports(), NumberLocale{"."});
    EXPECT_EQ(all.blocks(),
              (std::vector<SetFieldBlock>{{SetFieldKind::reps, "Reps"},
                                          {SetFieldKind::time, "Time"},
                                          {SetFieldKind::distance, "distance"},
                                          {SetFieldKind::repsInReserve, "RIR"},
                                          {SetFieldKind::ratePerceivedExertion, "RPE"},
                                          {SetFieldKind::weight, "kg"},
                                          {SetFieldKind::band, "Band"}}));
    EXPECT_NE(all.keypadField(SetFieldKind::ratePerceivedExertion), nullptr);
    EXPECT_EQ(all.keypadField(SetFieldKind::time), nullptr);
    EXPECT_EQ(all.keypadField(SetFieldKind::band), nullptr);

    exercise->isReps = exercise->isDuration = exercise->isDistance = false;
    exercise->isRepsInReserve = exercise->isRatePerceivedExertion = exercise->isBand = false;
    SetEditor weightOnly(exercise, set, reports(), NumberLocale{"."});
    EXPECT_EQ(weightOnly.blocks(), (std::vector<SetFieldBlock>{{SetFieldKind::weight, "kg"}}));
    EXPECT_EQ(weightOnly.keypadField(SetFieldKind::reps), nullptr);
}

TEST_F(SetEditorTest, KeypadFieldsEditTheSharedSetAndReportTheirFieldWhenClosed) {
    SetEditor editor(exercise, set, reports(), NumberLocale{","});
    auto* weight = editor.keypadField(SetFieldKind::weight);
    ASSERT_NE(weight, nullptr);
    weight->tap();
    weight->modal()->press(KeypadKey::seven);
    weight->modal()->press(KeypadKey::decimal);
    weight->modal()->press(KeypadKey::five);
    EXPECT_EQ(set->weight.get(), "7,5");
    weight->dismiss();

    auto* reps = editor.keypadField(SetFieldKind::reps);
    reps->tap();
    reps->dismiss();
    EXPECT_EQ(fieldReports,
              (std::vector<FieldReport>{{"S-1", "weight", "7,5"}, {"S-1", "reps", "5"}}));

    // What the phone or the kind picker changes shows at once.
    set->type = model::SetType::pr;
    EXPECT_EQ(reps->label().text, "5");
    EXPECT_EQ(reps->label().suffix, "+");
    set->reps = "";
    EXPECT_EQ(reps->label().text, "");
}

TEST_F(SetEditorTest, DurationPickerOffersFiveSecondStepsBelowTenThousand) {
    exercise->isDuration = true;
    SetEditor editor(exercise, set, reports(), NumberLocale{"."});
    EXPECT_EQ(editor.timeText(), "0:00");
    set->duration = std::optional<std::int64_t>(90);
    EXPECT_EQ(editor.timeText(), "1:30");
    set->duration = std::optional<std::int64_t>(3610);
    EXPECT_EQ(editor.timeText(), "1:00:10");

    const auto choices = SetEditor::durationChoices();
    ASSERT_EQ(choices.size(), 2000U);
    EXPECT_EQ(choices.front(), 0);
    EXPECT_EQ(choices.back(), 9995);
    EXPECT_EQ(SetEditor::durationChoiceText(9995), "2:46:35");

    EXPECT_EQ(editor.durationSelection(), 0);
    editor.openDurationPicker();
    EXPECT_EQ(editor.activeSheet(), SetEditorSheet::duration);
    editor.selectDuration(45);
    editor.durationDone();
    EXPECT_EQ(set->duration.get(), std::optional<std::int64_t>(45));
    EXPECT_EQ(durationReports, (std::vector<std::pair<std::string, std::int64_t>>{{"S-1", 45}}));
    EXPECT_EQ(editor.activeSheet(), std::nullopt);
}

TEST_F(SetEditorTest, NoteAndBand) {
    SetEditor withoutNote(exercise, set, reports(), NumberLocale{"."});
    EXPECT_FALSE(withoutNote.showsNoteButton());
    exercise->note = "";
    EXPECT_FALSE(withoutNote.showsNoteButton());
    withoutNote.openNote();
    EXPECT_EQ(withoutNote.activeSheet(), std::nullopt);
    exercise->note = "Pause at the bottom";
    withoutNote.openNote();
    EXPECT_EQ(withoutNote.activeSheet(), SetEditorSheet::note);
    EXPECT_EQ(withoutNote.noteText(), "Pause at the bottom");

    set->bandColor = "#FF5216";
    EXPECT_EQ(withoutNote.bandColor(), (RgbaColor{1, 0x52 / 255.0, 0x16 / 255.0, 1}));
    withoutNote.tapBand();
    EXPECT_TRUE(withoutNote.bandAlert());
    EXPECT_EQ(SetEditor::bandAlertTitle, "Change band on phone app");
}

TEST(BandColor, ReadsEightSixAndThreeDigitsAndFallsBackToBlack) {
    EXPECT_EQ(parseBandColor("#FF0000"), (RgbaColor{1, 0, 0, 1}));
    EXPECT_EQ(parseBandColor("abc"), (RgbaColor{0xAA / 255.0, 0xBB / 255.0, 0xCC / 255.0, 1}));
    EXPECT_EQ(parseBandColor("#80-00FF00"), (RgbaColor{0, 1, 0, 0x80 / 255.0}));
    const RgbaColor black{0, 0, 0, 1};
    for (const char* text : {"12345", "", "#", "1234567", "#GG0000", "0xFF0000", "FF00ÄÄ"}) {
        EXPECT_EQ(parseBandColor(text), black) << text;
    }
}

} // namespace

namespace {

class SetEditorWithHubTest : public screentest::ScreenFixture {
protected:
    platform::MemoryFileSystem files;
    watchsync::WatchDataSource data{
        watchsync::WatchDataSource::Services{exec, store, files, &session, outbox, log}};
};

TEST_F(SetEditorWithHubTest, EditsReachTheOutboxAsUpdateSetEvents) {
    auto set = screentest::makeSet("S-1", "1");
    auto exercise = screentest::makeExercise({set});
    exercise->isDuration = true;
    SetEditor editor(exercise, set, SetEditReports::to(data), NumberLocale{"."});
    auto* weight = editor.keypadField(SetFieldKind::weight);
    weight->tap();
    weight->modal()->press(KeypadKey::decimal);
    weight->modal()->press(KeypadKey::five);
    weight->dismiss();
    editor.openDurationPicker();
    editor.selectDuration(95);
    editor.durationDone();

    const auto sent = events();
    ASSERT_EQ(sent.size(), 2U);
    EXPECT_EQ(sent[0].type, "update_set");
    EXPECT_EQ(sent[0].payload, (platform::Dictionary{{"id", platform::Value("S-1")},
                                                     {"weight", platform::Value(".5")}}));
    EXPECT_EQ(sent[1].payload,
              (platform::Dictionary{{"id", platform::Value("S-1")},
                                    {"duration", platform::Value(std::int64_t{95})}}));
}

} // namespace

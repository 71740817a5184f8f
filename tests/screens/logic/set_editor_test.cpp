// The set editor: the fields the exercise records, the keypad and duration edits reaching the
// phone through the hub, and the band's colour.
#include "screens/logic/set_editor.hpp"
#include "support/watch_core_fixture.hpp"
#include "support/workout_builders.hpp"

namespace {

using screens::KeypadKey;
using screens::NumberLocale;
using screens::RgbaColor;
using screens::SetEditor;
using screens::SetFieldKind;

using SetEditorTest = testsupport::WatchCoreTest;

TEST_F(SetEditorTest, BlocksFollowTheExercisesFlagsAndEditsReachTheOutbox) {
    auto set = testsupport::makeSet("S-1");
    auto exercise = testsupport::makeExercise("E-1", {set});
    exercise->isDuration = exercise->isRatePerceivedExertion = exercise->isBand = true;
    exercise->weightUnits = "kg";
    SetEditor editor(exercise, set, screens::SetEditReports::to(data()), NumberLocale{","});
    std::vector<std::string> blocks;
    for (const auto& block : editor.blocks()) {
        blocks.push_back(block.label);
    }
    EXPECT_EQ(blocks, (std::vector<std::string>{"Reps", "Time", "RPE", "kg", "Band"}));
    EXPECT_EQ(editor.keypadField(SetFieldKind::time), nullptr);

    auto* weight = editor.keypadField(SetFieldKind::weight);
    weight->tap();
    for (auto key : {KeypadKey::seven, KeypadKey::decimal, KeypadKey::five}) {
        weight->modal()->press(key);
    }
    EXPECT_EQ(set->weight.get(), "7,5");
    weight->dismiss();
    set->type = model::SetType::pr;
    EXPECT_EQ(editor.keypadField(SetFieldKind::reps)->label().suffix, "+");

    EXPECT_EQ(SetEditor::durationChoices().back(), 9995);
    set->duration = std::optional<std::int64_t>(3610);
    EXPECT_EQ(editor.timeText(), "1:00:10");
    editor.openDurationPicker();
    editor.selectDuration(95);
    editor.durationDone();
    EXPECT_EQ(set->duration.get(), std::optional<std::int64_t>(95));

    const auto sent = testsupport::sentMessages(core->outbox());
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].type, "update_set");
    EXPECT_EQ(sent[0].payload, (platform::Dictionary{{"id", "S-1"}, {"weight", "7,5"}}));
    EXPECT_EQ(sent[1].payload, (platform::Dictionary{{"id", "S-1"}, {"duration", 95}}));
}

TEST(BandColor, ReadsEightSixAndThreeDigitsAndFallsBackToBlack) {
    EXPECT_EQ(screens::parseBandColor("#FF0000"), (RgbaColor{1, 0, 0, 1}));
    EXPECT_EQ(screens::parseBandColor("abc"),
              (RgbaColor{0xAA / 255.0, 0xBB / 255.0, 0xCC / 255.0, 1}));
    EXPECT_EQ(screens::parseBandColor("#80-00FF00"), (RgbaColor{0, 1, 0, 0x80 / 255.0}));
    for (const char* text : {"12345", "", "#", "#GG0000", "0xFF0000", "FF00ÄÄ"}) {
        EXPECT_EQ(screens::parseBandColor(text), (RgbaColor{0, 0, 0, 1})) << text;
    }
}

} // namespace

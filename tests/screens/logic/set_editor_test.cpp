// The set editor: the band's colour as the phone writes it, and the editor across the phone's copy.
#include "screens/logic/set_editor.hpp"
#include "support/workout_builders.hpp"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using screens::RgbaColor;

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

namespace {

using screens::SetEditor;
using screens::SetFieldKind;

struct Edit {
    std::string setId, field, text;
    bool operator==(const Edit&) const = default;
};

// The phone's newer copy of the set arrives while the weight's keypad is open: what was typed
// and what is typed after goes to the copy, and closing sends it once.
TEST(SetEditorFollowsThePhonesCopy, KeepsTheOpenKeypadAndWhatWasTyped) {
    auto exercise = testsupport::makeExercise("Bench", {testsupport::makeSet("s1")});
    std::vector<Edit> edits;
    SetEditor editor(
        exercise, exercise->exerciseSets.get()[0],
        {[&](const std::string& set, const std::string& field, const std::string& text) {
             edits.push_back({set, field, text});
         },
         {}});
    editor.keypadField(SetFieldKind::weight)->tap();
    editor.keypadField(SetFieldKind::weight)->modal()->press(screens::KeypadKey::one);

    auto copy =
        testsupport::makeExercise("Bench", {testsupport::makeSet("s1", "NOT_STARTED", "8")});
    EXPECT_FALSE(editor.follow(copy, testsupport::makeSet("s2")));
    ASSERT_TRUE(editor.follow(copy, copy->exerciseSets.get()[0]));

    auto* weight = editor.keypadField(SetFieldKind::weight);
    ASSERT_TRUE(weight->presentingModal());
    weight->modal()->press(screens::KeypadKey::two);
    weight->dismiss();
    EXPECT_EQ(edits, (std::vector<Edit>{{"s1", "weight", "12"}}));
    EXPECT_EQ(copy->exerciseSets.get()[0]->weight.get(), "12");
    EXPECT_EQ(copy->exerciseSets.get()[0]->reps.get(), "8");
    EXPECT_FALSE(editor.keypadField(SetFieldKind::reps)->presentingModal());
}

} // namespace

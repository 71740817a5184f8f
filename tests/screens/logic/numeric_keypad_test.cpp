#include "screens/logic/numeric_keypad.hpp"

#include <gtest/gtest.h>
#include <rapidcheck.h>
#include <rapidcheck/gtest.h>

#include <string>
#include <vector>

using screens::Binding;
using screens::KeyboardStyle;
using screens::KeypadField;
using screens::KeypadKey;
using screens::KeypadText;
using screens::NumberLocale;
using screens::pressKey;
using screens::TextViewAlignment;

namespace {

// A text field of some owner, bound the way the set editor binds a set's field.
struct BoundText {
    std::string value;
    Binding<std::string> binding() {
        return Binding<std::string>([this] { return value; },
                                    [this](std::string text) { value = std::move(text); });
    }
};

KeypadText typed(KeypadText state, const std::vector<KeypadKey>& keys, std::string_view sep) {
    for (auto key : keys) {
        state = pressKey(std::move(state), key, sep);
    }
    return state;
}

std::size_t occurrences(const std::string& text, std::string_view part) {
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

rc::Gen<KeypadKey> digitKey() {
    return rc::gen::element(KeypadKey::one, KeypadKey::two, KeypadKey::three, KeypadKey::four,
                            KeypadKey::five, KeypadKey::six, KeypadKey::seven, KeypadKey::eight,
                            KeypadKey::nine, KeypadKey::zero);
}

rc::Gen<KeypadKey> anyKey() {
    return rc::gen::oneOf(digitKey(), rc::gen::element(KeypadKey::decimal, KeypadKey::del));
}

// Old values as the phone may send them, including non-ASCII text.
rc::Gen<std::string> oldValue() {
    return rc::gen::oneOf(
        rc::gen::element<std::string>("", "100", "62.5", "62,5", "1.2.3", "5–8", "Ø", "ab"),
        rc::gen::map(rc::gen::container<std::vector<KeypadKey>>(digitKey()),
                     [](const std::vector<KeypadKey>& keys) { return typed({}, keys, ".").text; }));
}

TEST(KeypadRules, TheFirstKeyReplacesTheDecimalKeyEntersOneSeparatorDeleteKeepsReplacing) {
    using K = KeypadKey;
    struct Case {
        KeypadText before;
        std::vector<KeypadKey> keys;
        std::string separator;
        KeypadText after;
    };
    for (const auto& c :
         std::vector<Case>{{{"", true}, {K::decimal}, ",", {"0,", false}},
                           {{"7", false}, {K::decimal, K::five, K::decimal}, ",", {"7,5", false}},
                           {{"62.5", true}, {K::decimal}, ".", {"62.5", true}},
                           {{"62.5", true}, {K::decimal}, ",", {",", false}},
                           {{"100", true}, {K::del, K::four}, ".", {"4", false}},
                           {{"5\xE2\x80\x93", false}, {K::del}, ".", {"5", false}}}) {
        EXPECT_EQ(typed(c.before, c.keys, c.separator), c.after) << c.before.text;
    }
}

RC_GTEST_PROP(KeypadProperties, TypedDigitsReplaceThenAppend, ()) {
    const auto old = *oldValue();
    const auto keys = *rc::gen::nonEmpty(rc::gen::container<std::vector<KeypadKey>>(digitKey()));
    const auto state = typed({old, true}, keys, ".");
    std::string expected;
    for (auto key : keys) {
        expected += typed({}, {key}, ".").text;
    }
    RC_ASSERT(state == (KeypadText{expected, false}));
}

RC_GTEST_PROP(KeypadProperties, NoKeySequenceAddsASecondSeparator, ()) {
    const auto sep = *rc::gen::element<std::string>(".", ",");
    const auto old = *oldValue();
    KeypadText state{old, true};
    for (auto key : *rc::gen::container<std::vector<KeypadKey>>(anyKey())) {
        const auto before = state;
        state = pressKey(state, key, sep);
        if (key == KeypadKey::del) {
            RC_ASSERT(state.isFirstInput == before.isFirstInput);
            RC_ASSERT(before.text.rfind(state.text, 0) == 0);
        }
    }
    if (state.isFirstInput) {
        // Nothing replaced the old value: only deletes (and refused separators) happened.
        RC_ASSERT(old.rfind(state.text, 0) == 0);
    } else {
        RC_ASSERT(occurrences(state.text, sep) <= 1);
    }
}

TEST(KeypadLocale, TheSeparatorComesFromTheUsersLocale) {
    EXPECT_EQ(screens::keypadRows(KeyboardStyle::decimal, ",")[3][0]->text, ",");
    EXPECT_FALSE(screens::keypadRows(KeyboardStyle::numbers, ".")[3][0].has_value());

    // The environment's locale, first of LC_ALL, LC_NUMERIC, LANG that is set and not empty; one
    // that is not installed still gets its language's separator.
    struct Case {
        const char* lcAll;
        const char* lcNumeric;
        const char* lang;
        const char* separator;
    };
    for (const auto& c : std::vector<Case>{{nullptr, nullptr, nullptr, "."},
                                           {nullptr, nullptr, "de_DE.UTF-8", ","},
                                           {"", "fr_FR", "en_US.UTF-8", ","},
                                           {"en_GB.UTF-8", "de_DE", "de_DE", "."},
                                           {nullptr, "POSIX", "pt_BR", "."},
                                           {nullptr, nullptr, "nb_NO@euro", ","}}) {
        auto locale = NumberLocale::fromEnvironment([&](const char* name) -> const char* {
            return std::string_view(name) == "LC_ALL"       ? c.lcAll
                   : std::string_view(name) == "LC_NUMERIC" ? c.lcNumeric
                   : std::string_view(name) == "LANG"       ? c.lang
                                                            : nullptr;
        });
        EXPECT_EQ(locale.decimalSeparator, c.separator)
            << (c.lcAll ? c.lcAll : "-") << " " << (c.lcNumeric ? c.lcNumeric : "-") << " "
            << (c.lang ? c.lang : "-");
    }
}

TEST(KeypadFieldTest, EveryKeyWritesThroughAndClosingReportsTheTextOnce) {
    BoundText bound{"100"};
    std::vector<std::string> reports;
    KeypadField field(bound.value, bound.binding(), false, TextViewAlignment::center,
                      KeyboardStyle::decimal, NumberLocale{"."}, "set-1", "weight", "regular",
                      [&](const std::string& id, const std::string& name, const std::string& text) {
                          reports.push_back(id + " " + name + " " + text);
                      });
    field.tap();
    ASSERT_NE(field.modal(), nullptr);
    field.modal()->press(KeypadKey::eight);
    field.modal()->press(KeypadKey::five);
    EXPECT_EQ(bound.value, "85");
    EXPECT_TRUE(reports.empty());
    field.dismiss();
    field.dismiss();
    EXPECT_EQ(reports, std::vector<std::string>{"set-1 weight 85"});
}

} // namespace

#pragma once

#include "screens/logic/binding.hpp"

#include <array>
#include <functional>
#include <locale>
#include <optional>
#include <string>
#include <string_view>

namespace screens {

// Whether the bottom-left key enters the decimal separator or is left empty.
enum class KeyboardStyle { decimal, numbers };

// Horizontal alignment of the value inside the field.
enum class TextViewAlignment { trailing, leading, center };

// The part of a locale that the keypad uses.
struct NumberLocale {
    std::string decimalSeparator = ".";

    static NumberLocale from(const std::locale& locale);
    // The user's locale as the environment names it (LC_ALL, then LC_NUMERIC, then LANG; the
    // first that is set and not empty), read with `getenv`. A locale the system does not have
    // installed still gets its language's separator; "C", "POSIX" or none give ".".
    static NumberLocale fromEnvironment(const std::function<const char*(const char*)>& getenv);

    bool operator==(const NumberLocale&) const = default;
};

enum class KeypadKey { one, two, three, four, five, six, seven, eight, nine, zero, decimal, del };

// What the modal holds while the user types: the bound text and whether the next key replaces
// it (true each time the modal opens).
struct KeypadText {
    std::string text;
    bool isFirstInput = true;

    bool operator==(const KeypadText&) const = default;
};

// The editing rules, one key at a time. Typing replaces the old value on the first key and
// appends afterwards; the decimal key enters the separator once ("0" first on an empty text);
// delete removes the last character without ending the replace-on-first-key state.
KeypadText pressKey(KeypadText state, KeypadKey key, std::string_view decimalSeparator);

// One place of the key grid: the key and what it shows (a text, or the name of a system image).
struct KeypadKeyFace {
    KeypadKey key;
    std::string text;
    std::string symbol;

    bool operator==(const KeypadKeyFace&) const = default;
};

// Four rows of three places, top to bottom; the bottom-left place is empty for `numbers`.
using KeypadRow = std::array<std::optional<KeypadKeyFace>, 3>;
std::array<KeypadRow, 4> keypadRows(KeyboardStyle style, std::string_view decimalSeparator);

// The full-screen entry opened from a field: the entered text above the key grid. Every key
// writes through to the bound text at once.
class KeypadModal {
public:
    KeypadModal(Binding<std::string> text, KeyboardStyle style, NumberLocale locale,
                bool isFirstInput = true);

    // A key that the style does not show does nothing.
    void press(KeypadKey key);

    std::string enteredText() const { return text_.get(); }
    bool isFirstInput() const { return isFirstInput_; }
    // The old value is drawn faded until the first key replaces it.
    double enteredTextOpacity() const { return isFirstInput_ ? 0.5 : 1.0; }
    std::array<KeypadRow, 4> rows() const { return keypadRows(style_, locale_.decimalSeparator); }

private:
    Binding<std::string> text_;
    KeyboardStyle style_;
    NumberLocale locale_;
    bool isFirstInput_ = true;
};

// What the field shows: the text, or the placeholder at half opacity when the text is empty,
// followed by `suffix` ("+" on a personal-record set's reps).
struct KeypadFieldLabel {
    std::string text;
    bool isPlaceholder = false;
    double opacity = 1.0;
    std::string suffix;
    TextViewAlignment align = TextViewAlignment::center;

    bool operator==(const KeypadFieldLabel&) const = default;
};

// The tappable field bound to one text field of a set. Tapping opens the keypad; however the
// keypad closes, the field reports its final text once, also when nothing changed, so that the
// phone always ends with what the watch shows.
class KeypadField {
public:
    using ReportEdit = std::function<void(const std::string& setId, const std::string& fieldName,
                                          const std::string& text)>;

    KeypadField(std::string placeholder, Binding<std::string> text, bool presentingModal,
                TextViewAlignment align, KeyboardStyle style, NumberLocale locale,
                std::string setId, std::string fieldName, std::string setType, ReportEdit report);

    // The creator's arguments again after the set changed; the open keypad and its
    // replace-on-first-key state stay.
    void refresh(std::string placeholder, std::string setType);

    KeypadFieldLabel label() const;
    bool presentingModal() const { return modal_.has_value(); }
    // Opens the keypad, or closes it when it is open.
    void tap();
    // The keypad while it is open.
    KeypadModal* modal() { return modal_ ? &*modal_ : nullptr; }
    // The keypad's "Done", a tap on the entered value or the system's dismissal gesture.
    void dismiss();
    // Goes on with what an older field of the same set had open: the keypad stays open, and
    // text typed there is written to this field's set, which wins over the phone's copy since
    // closing the keypad sends it anyway.
    void takeOver(const KeypadField& older);

    const std::string& setId() const { return setId_; }
    const std::string& fieldName() const { return fieldName_; }

private:
    std::string placeholder_;
    Binding<std::string> text_;
    TextViewAlignment align_;
    KeyboardStyle style_;
    NumberLocale locale_;
    std::string setId_;
    std::string fieldName_;
    std::string setType_;
    ReportEdit report_;
    std::optional<KeypadModal> modal_;
};

} // namespace screens

#include "screens/logic/numeric_keypad.hpp"

#include <algorithm>
#include <array>
#include <stdexcept>
#include <utility>

namespace screens {

namespace {

std::string_view digit(KeypadKey key) {
    switch (key) {
    case KeypadKey::one:
        return "1";
    case KeypadKey::two:
        return "2";
    case KeypadKey::three:
        return "3";
    case KeypadKey::four:
        return "4";
    case KeypadKey::five:
        return "5";
    case KeypadKey::six:
        return "6";
    case KeypadKey::seven:
        return "7";
    case KeypadKey::eight:
        return "8";
    case KeypadKey::nine:
        return "9";
    case KeypadKey::zero:
        return "0";
    case KeypadKey::decimal:
    case KeypadKey::del:
        break;
    }
    return {};
}

KeypadText enter(KeypadText state, std::string_view keyString) {
    if (state.isFirstInput) {
        state.text = std::string(keyString);
        state.isFirstInput = false;
    } else {
        state.text += keyString;
    }
    return state;
}

// The text may hold anything the phone sent; removing a whole UTF-8 sequence keeps it valid
// text for the property list that carries it.
void removeLastCharacter(std::string& text) {
    auto end = text.size();
    while (end > 0) {
        --end;
        const auto byte = static_cast<unsigned char>(text[end]);
        if ((byte & 0xC0U) != 0x80U) {
            break;
        }
    }
    text.erase(end);
}

KeypadKeyFace digitFace(KeypadKey key) {
    return {key, std::string(digit(key)), {}};
}

// Languages whose usual decimal separator is a comma, for locales that are not installed.
bool usesDecimalComma(std::string_view language) {
    static constexpr std::array<std::string_view, 41> languages = {
        "af", "az", "be", "bg", "bs", "ca", "cs", "da", "de", "el", "es", "et", "eu", "fi",
        "fr", "gl", "hr", "hu", "id", "is", "it", "ka", "kk", "lt", "lv", "mk", "nb", "nl",
        "nn", "pl", "pt", "ro", "ru", "sk", "sl", "sq", "sr", "sv", "tr", "uk", "vi"};
    return std::find(languages.begin(), languages.end(), language) != languages.end();
}

} // namespace

NumberLocale NumberLocale::from(const std::locale& locale) {
    const auto separator = std::use_facet<std::numpunct<char>>(locale).decimal_point();
    return NumberLocale{std::string(1, separator)};
}

NumberLocale NumberLocale::fromEnvironment(const std::function<const char*(const char*)>& getenv) {
    std::string name;
    for (const char* variable : {"LC_ALL", "LC_NUMERIC", "LANG"}) {
        const char* value = getenv(variable);
        if (value != nullptr && *value != '\0') {
            name = value;
            break;
        }
    }
    if (name.empty() || name == "C" || name == "POSIX" || name.starts_with("C.")) {
        return NumberLocale{};
    }
    try {
        return from(std::locale(name));
    } catch (const std::runtime_error&) {
        // Not installed here: the language alone decides.
    }
    return NumberLocale{usesDecimalComma(name.substr(0, name.find_first_of("_.@"))) ? "," : "."};
}

KeypadText pressKey(KeypadText state, KeypadKey key, std::string_view decimalSeparator) {
    switch (key) {
    case KeypadKey::decimal:
        // Tested on the text as it is, even while the old value is still shown: an old value
        // that already holds a separator makes the key do nothing.
        if (decimalSeparator.empty() || state.text.find(decimalSeparator) != std::string::npos) {
            return state;
        }
        if (state.text.empty()) {
            return enter(std::move(state), "0" + std::string(decimalSeparator));
        }
        return enter(std::move(state), decimalSeparator);
    case KeypadKey::del:
        removeLastCharacter(state.text);
        return state;
    default:
        return enter(std::move(state), digit(key));
    }
}

std::array<KeypadRow, 4> keypadRows(KeyboardStyle style, std::string_view decimalSeparator) {
    std::array<KeypadRow, 4> rows{{
        {digitFace(KeypadKey::one), digitFace(KeypadKey::two), digitFace(KeypadKey::three)},
        {digitFace(KeypadKey::four), digitFace(KeypadKey::five), digitFace(KeypadKey::six)},
        {digitFace(KeypadKey::seven), digitFace(KeypadKey::eight), digitFace(KeypadKey::nine)},
        {std::nullopt, digitFace(KeypadKey::zero),
         KeypadKeyFace{KeypadKey::del, {}, "delete.left"}},
    }};
    if (style == KeyboardStyle::decimal) {
        rows[3][0] = KeypadKeyFace{KeypadKey::decimal, std::string(decimalSeparator), {}};
    }
    return rows;
}

KeypadModal::KeypadModal(Binding<std::string> text, KeyboardStyle style, NumberLocale locale,
                         bool isFirstInput)
    : text_(std::move(text)), style_(style), locale_(std::move(locale)),
      isFirstInput_(isFirstInput) {}

void KeypadModal::press(KeypadKey key) {
    if (key == KeypadKey::decimal && style_ != KeyboardStyle::decimal) {
        return;
    }
    auto next = pressKey({text_.get(), isFirstInput_}, key, locale_.decimalSeparator);
    isFirstInput_ = next.isFirstInput;
    text_.set(std::move(next.text));
}

KeypadField::KeypadField(std::string placeholder, Binding<std::string> text, bool presentingModal,
                         TextViewAlignment align, KeyboardStyle style, NumberLocale locale,
                         std::string setId, std::string fieldName, std::string setType,
                         ReportEdit report)
    : placeholder_(std::move(placeholder)), text_(std::move(text)), align_(align), style_(style),
      locale_(std::move(locale)), setId_(std::move(setId)), fieldName_(std::move(fieldName)),
      setType_(std::move(setType)), report_(std::move(report)) {
    if (presentingModal) {
        modal_.emplace(text_, style_, locale_);
    }
}

void KeypadField::refresh(std::string placeholder, std::string setType) {
    placeholder_ = std::move(placeholder);
    setType_ = std::move(setType);
}

KeypadFieldLabel KeypadField::label() const {
    KeypadFieldLabel label;
    label.text = text_.get();
    if (label.text.empty()) {
        label.text = placeholder_;
        label.isPlaceholder = true;
        label.opacity = 0.5;
    }
    if (setType_ == "pr" && fieldName_ == "reps") {
        label.suffix = "+";
    }
    label.align = align_;
    return label;
}

void KeypadField::takeOver(const KeypadField& older) {
    if (!older.modal_ || older.setId_ != setId_ || older.fieldName_ != fieldName_) {
        return;
    }
    if (!older.modal_->isFirstInput()) {
        text_.set(older.text_.get());
    }
    modal_.emplace(text_, style_, locale_, older.modal_->isFirstInput());
}

void KeypadField::tap() {
    if (modal_) {
        dismiss();
        return;
    }
    // A fresh modal each time, so that the first key replaces the value again.
    modal_.emplace(text_, style_, locale_);
}

void KeypadField::dismiss() {
    if (!modal_) {
        return;
    }
    modal_.reset();
    if (report_) {
        report_(setId_, fieldName_, text_.get());
    }
}

} // namespace screens

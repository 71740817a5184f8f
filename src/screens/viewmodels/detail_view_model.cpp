#include "screens/viewmodels/detail_view_model.hpp"

#include "screens/bridge/display_text.hpp"

#include <QColor>

#include <array>

namespace screens {

namespace {

QString text(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

QString color(const model::Rgb& rgb) {
    return QColor(rgb.red, rgb.green, rgb.blue).name();
}

QString tintName(Tint tint) {
    switch (tint) {
    case Tint::red:
        return QStringLiteral("red");
    case Tint::blue:
        return QStringLiteral("blue");
    case Tint::grey:
        return QStringLiteral("grey");
    case Tint::accent:
        return QStringLiteral("accent");
    case Tint::white:
        break;
    }
    return QStringLiteral("white");
}

constexpr std::array<std::pair<SetFieldKind, std::string_view>, 7> fieldKinds{{
    {SetFieldKind::reps, "reps"},
    {SetFieldKind::time, "time"},
    {SetFieldKind::distance, "distance"},
    {SetFieldKind::repsInReserve, "repsInReserve"},
    {SetFieldKind::ratePerceivedExertion, "ratePerceivedExertion"},
    {SetFieldKind::weight, "weight"},
    {SetFieldKind::band, "band"},
}};

std::string_view kindName(SetFieldKind kind) {
    for (const auto& [k, name] : fieldKinds) {
        if (k == kind) {
            return name;
        }
    }
    return {};
}

std::optional<SetFieldKind> kindNamed(const QString& name) {
    for (const auto& [kind, kindText] : fieldKinds) {
        if (name == text(kindText)) {
            return kind;
        }
    }
    return std::nullopt;
}

// The key's name on the control channel and in objectNames.
QString keyName(KeypadKey key) {
    switch (key) {
    case KeypadKey::decimal:
        return QStringLiteral(".");
    case KeypadKey::del:
        return QStringLiteral("delete");
    default:
        break;
    }
    constexpr std::array<KeypadKey, 10> digits{
        KeypadKey::zero, KeypadKey::one, KeypadKey::two,   KeypadKey::three, KeypadKey::four,
        KeypadKey::five, KeypadKey::six, KeypadKey::seven, KeypadKey::eight, KeypadKey::nine};
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (digits[i] == key) {
            return QString::number(i);
        }
    }
    return {};
}

} // namespace

DetailViewModel::DetailViewModel(MainScreen& screen, watchsync::WatchDataSource& data,
                                 timer::RestTimerManager& restTimer, QObject* parent)
    : QObject(parent), screen_(screen), data_(data), restTimer_(restTimer),
      moreMenu_({"title", "tint"}), setTypes_({"name"}),
      plates_({"weight", "count", "dark", "light"}),
      fields_({"kind", "label", "value", "faded", "keypad", "bandColor"}), keys_({"name", "face"}),
      feed_(this, [this] { update(); }), setFeed_(this, [this] { update(); }) {
    feed_.follow(screen_.tagToShow);
    feed_.follow(screen_.selectedPage);
    feed_.follow(data_.exercises);
    feed_.follow(restTimer_.nextSetPlates);
    feed_.follow(restTimer_.titleMessage);
    std::vector<QVariantMap> more;
    for (const auto& entry : ExerciseDetail::moreMenuEntries()) {
        more.push_back({{"key", text(entry.title)},
                        {"title", text(entry.title)},
                        {"tint", tintName(entry.background)}});
    }
    moreMenu_.setRows(std::move(more));
    std::vector<QVariantMap> types;
    for (const auto& row : ExerciseDetail::setTypeRows()) {
        types.push_back({{"key", text(row.name)}, {"name", text(row.name)}});
    }
    setTypes_.setRows(std::move(types));
    update();
}

DetailViewModel::~DetailViewModel() = default;

SetEditor* DetailViewModel::editor() {
    auto set = detail() != nullptr ? detail()->currentSet() : nullptr;
    if (!set) {
        editor_.reset();
        return nullptr;
    }
    if (editor_ && editor_->set() != set && editor_->follow(detail()->exercise(), set)) {
        return editor_.get();
    }
    if (!editor_ || editor_->set() != set) {
        editor_ = std::make_unique<SetEditor>(detail()->exercise(), set, SetEditReports::to(data_),
                                              screen_.numberLocale());
    }
    return editor_.get();
}

KeypadField* DetailViewModel::openField() {
    auto* shownEditor = editor_.get();
    if (shownEditor == nullptr) {
        return nullptr;
    }
    for (const auto& [kind, name] : fieldKinds) {
        if (auto* field = shownEditor->keypadField(kind); field && field->presentingModal()) {
            return field;
        }
    }
    return nullptr;
}

void DetailViewModel::update() {
    setFeed_.clear();
    auto* shownEditor = editor();
    std::vector<QVariantMap> rows;
    if (detail() != nullptr) {
        setFeed_.follow(detail()->exercise()->exerciseSets);
    }
    if (shownEditor != nullptr) {
        const auto& set = shownEditor->set();
        setFeed_.follow(set->status);
        setFeed_.follow(set->reps);
        setFeed_.follow(set->weight);
        setFeed_.follow(set->duration);
        setFeed_.follow(set->distance);
        setFeed_.follow(set->repsInReserve);
        setFeed_.follow(set->ratePerceivedExertion);
        setFeed_.follow(set->bandColor);
        setFeed_.follow(set->setNumber);
        for (const auto& block : shownEditor->blocks()) {
            QVariantMap row{{"key", text(kindName(block.kind))},
                            {"kind", text(kindName(block.kind))},
                            {"label", displayText(block.label)},
                            {"faded", false},
                            {"keypad", false},
                            {"bandColor", QString()}};
            if (auto* field = shownEditor->keypadField(block.kind)) {
                const auto label = field->label();
                row["value"] = displayText(label.text + label.suffix);
                row["faded"] = label.isPlaceholder;
                row["keypad"] = true;
            } else if (block.kind == SetFieldKind::time) {
                row["value"] = text(shownEditor->timeText());
            } else {
                const auto band = shownEditor->bandColor();
                row["value"] = text(SetEditor::bandValueText);
                row["bandColor"] =
                    QColor::fromRgbF(static_cast<float>(band.red), static_cast<float>(band.green),
                                     static_cast<float>(band.blue), static_cast<float>(band.alpha))
                        .name(QColor::HexArgb);
            }
            rows.push_back(std::move(row));
        }
    }
    fields_.setRows(std::move(rows));

    std::vector<QVariantMap> faces;
    if (auto* field = openField()) {
        for (const auto& row : field->modal()->rows()) {
            for (const auto& place : row) {
                if (!place) {
                    faces.push_back({{"key", QStringLiteral("blank%1").arg(faces.size())},
                                     {"name", QString()},
                                     {"face", QString()}});
                    continue;
                }
                const auto name = keyName(place->key);
                faces.push_back({{"key", name},
                                 {"name", name},
                                 {"face", place->key == KeypadKey::del ? QStringLiteral("\u232b")
                                                                       : text(place->text)}});
            }
        }
    }
    keys_.setRows(std::move(faces));

    std::vector<QVariantMap> plateRows;
    if (detail() != nullptr && detail()->activeSheet() == ExerciseDetailSheet::plateCalculator) {
        for (const auto& row : detail()->plateCalculatorRows()) {
            plateRows.push_back({{"key", text(row.id)},
                                 {"weight", text(row.weightText)},
                                 {"count", text(row.countText)},
                                 {"dark", color(row.color.dark)},
                                 {"light", color(row.color.light)}});
        }
    }
    plates_.setRows(std::move(plateRows));
    emit changed();
}

QString DetailViewModel::title() const {
    return detail() != nullptr ? text(detail()->title()) : QString();
}

bool DetailViewModel::hasSets() const {
    return detail() != nullptr && detail()->hasSets();
}

int DetailViewModel::page() const {
    return screen_.selectedPage.get();
}

void DetailViewModel::setPage(int page) {
    if (detail() != nullptr && page >= 0 && page < pageCount() && page != this->page()) {
        screen_.selectedPage = page;
    }
}

int DetailViewModel::pageCount() const {
    return detail() != nullptr ? static_cast<int>(detail()->setCount()) : 0;
}

QString DetailViewModel::badge() const {
    if (detail() == nullptr || badgeWarns()) {
        return QStringLiteral("?");
    }
    auto symbol = detail()->badge().symbol;
    symbol = symbol.substr(0, symbol.find('.'));
    return displayText(symbol, 3).toUpper();
}

bool DetailViewModel::badgeWarns() const {
    return detail() == nullptr || detail()->badge().tint == Tint::red;
}

QString DetailViewModel::actionSymbol() const {
    return detail() != nullptr ? text(detail()->actionButtonLabel().symbol) : QString();
}

bool DetailViewModel::actionDone() const {
    return detail() != nullptr && detail()->actionButtonLabel().tint == Tint::blue;
}

QString DetailViewModel::nextSymbol() const {
    auto symbol = detail() != nullptr ? detail()->nextButtonSymbol() : std::nullopt;
    return symbol ? text(*symbol) : QString();
}

QString DetailViewModel::sheet() const {
    auto active = detail() != nullptr ? detail()->activeSheet() : std::nullopt;
    if (!active) {
        return {};
    }
    switch (*active) {
    case ExerciseDetailSheet::moreMenu:
        return QStringLiteral("moreMenu");
    case ExerciseDetailSheet::setTypeOptions:
        return QStringLiteral("setTypeOptions");
    case ExerciseDetailSheet::plateCalculator:
        break;
    }
    return QStringLiteral("plateCalculator");
}

QString DetailViewModel::plateTitle() const {
    return displayText(restTimer_.titleMessage.get());
}

QStringList DetailViewModel::plateNotes() const {
    QStringList notes;
    if (detail() != nullptr && detail()->activeSheet() == ExerciseDetailSheet::plateCalculator) {
        for (const auto& note : detail()->plateCalculatorNotes()) {
            notes.push_back(displayText(note));
        }
    }
    return notes;
}

QString DetailViewModel::editorSheet() const {
    const auto* shownEditor = editor_.get();
    if (shownEditor == nullptr || detail() == nullptr) {
        return {};
    }
    if (shownEditor->bandAlert()) {
        return QStringLiteral("bandAlert");
    }
    if (!shownEditor->activeSheet()) {
        return {};
    }
    return *shownEditor->activeSheet() == SetEditorSheet::duration ? QStringLiteral("duration")
                                                                   : QStringLiteral("note");
}

bool DetailViewModel::showsNote() const {
    return editor_ != nullptr && detail() != nullptr && editor_->showsNoteButton();
}

QString DetailViewModel::noteText() const {
    return showsNote() ? displayText(editor_->noteText()) : QString();
}

int DetailViewModel::durationIndex() const {
    return editor_ != nullptr
               ? static_cast<int>(editor_->durationSelection() / SetEditor::durationStep)
               : 0;
}

void DetailViewModel::setDurationIndex(int index) {
    if (editor_ != nullptr && index >= 0 && index < durationChoiceCount() &&
        index != durationIndex()) {
        editor_->selectDuration(index * SetEditor::durationStep);
        emit changed();
    }
}

int DetailViewModel::durationChoiceCount() const {
    return static_cast<int>(SetEditor::durationLimit / SetEditor::durationStep);
}

QString DetailViewModel::durationChoiceText(int index) const {
    if (index < 0 || index >= durationChoiceCount()) {
        return {};
    }
    return text(SetEditor::durationChoiceText(index * SetEditor::durationStep));
}

QString DetailViewModel::exerciseName() const {
    return detail() != nullptr ? displayText(detail()->exercise()->name) : QString();
}

bool DetailViewModel::keypadOpen() const {
    return const_cast<DetailViewModel*>(this)->openField() != nullptr;
}

QString DetailViewModel::keypadText() const {
    auto* field = const_cast<DetailViewModel*>(this)->openField();
    return field != nullptr ? displayText(field->modal()->enteredText()) : QString();
}

double DetailViewModel::keypadTextOpacity() const {
    auto* field = const_cast<DetailViewModel*>(this)->openField();
    return field != nullptr ? field->modal()->enteredTextOpacity() : 1.0;
}

QVariantMap DetailViewModel::texts() const {
    return {{"addSet", text(ExerciseDetail::addSetTitle)},
            {"note", text(SetEditor::noteTitle)},
            {"durationLabel", text(SetEditor::durationPickerLabel)},
            {"durationDone", text(SetEditor::durationDoneTitle)},
            {"bandAlert", text(SetEditor::bandAlertTitle)},
            {"deleteExercise", text(ExerciseDetail::deleteExerciseTitle)},
            {"setTypeOptions", text(ExerciseDetail::setTypeOptionsTitle)}};
}

void DetailViewModel::tapAction() {
    if (detail() != nullptr) {
        detail()->tapActionButton();
        feed_.poke();
    }
}

void DetailViewModel::next() {
    if (detail() != nullptr) {
        detail()->next();
        feed_.poke();
    }
}

void DetailViewModel::openMoreMenu() {
    if (detail() != nullptr) {
        detail()->openMoreMenu();
        feed_.poke();
    }
}

void DetailViewModel::chooseMore(int row) {
    const auto entries = ExerciseDetail::moreMenuEntries();
    if (detail() != nullptr && row >= 0 && row < static_cast<int>(entries.size())) {
        detail()->chooseMoreMenuEntry(entries[static_cast<std::size_t>(row)].action);
        feed_.poke();
    }
}

void DetailViewModel::openSetTypes() {
    if (detail() != nullptr) {
        detail()->openSetTypeOptions();
        feed_.poke();
    }
}

void DetailViewModel::chooseSetType(int row) {
    const auto rows = ExerciseDetail::setTypeRows();
    if (detail() != nullptr && row >= 0 && row < static_cast<int>(rows.size())) {
        detail()->chooseSetType(rows[static_cast<std::size_t>(row)].type);
        feed_.poke();
    }
}

void DetailViewModel::closeSheet() {
    if (detail() != nullptr) {
        detail()->closeSheet();
        feed_.poke();
    }
}

void DetailViewModel::addSet() {
    if (detail() != nullptr) {
        detail()->addSet();
        feed_.poke();
    }
}

void DetailViewModel::deleteExercise() {
    if (detail() != nullptr) {
        detail()->deleteExercise();
        feed_.poke();
    }
}

void DetailViewModel::tapField(const QString& kind) {
    auto fieldKind = kindNamed(kind);
    auto* shownEditor = editor();
    if (!fieldKind || shownEditor == nullptr) {
        return;
    }
    if (auto* field = shownEditor->keypadField(*fieldKind)) {
        field->tap();
    } else if (*fieldKind == SetFieldKind::time) {
        shownEditor->openDurationPicker();
    } else if (*fieldKind == SetFieldKind::band) {
        shownEditor->tapBand();
    }
    feed_.poke();
}

void DetailViewModel::pressKey(const QString& key) {
    auto* field = openField();
    if (field == nullptr) {
        return;
    }
    for (const auto& row : field->modal()->rows()) {
        for (const auto& place : row) {
            if (place && keyName(place->key) == key) {
                field->modal()->press(place->key);
            }
        }
    }
    feed_.poke();
}

void DetailViewModel::openNote() {
    if (auto* shownEditor = editor()) {
        shownEditor->openNote();
    }
    feed_.poke();
}

void DetailViewModel::durationDone() {
    if (auto* shownEditor = editor();
        shownEditor && shownEditor->activeSheet() == SetEditorSheet::duration) {
        shownEditor->durationDone();
    }
    feed_.poke();
}

void DetailViewModel::closeEditorSheet() {
    if (auto* shownEditor = editor()) {
        shownEditor->closeSheet();
        shownEditor->dismissBandAlert();
    }
    feed_.poke();
}

void DetailViewModel::closeKeypad() {
    if (auto* field = openField()) {
        field->dismiss();
    }
    feed_.poke();
}

} // namespace screens

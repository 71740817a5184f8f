// The exercise catalogue: the phone sends it whole or as a keyed delta inside its messages, or
// whole as a transferred file; the last whole catalogue is kept in a file for the next start.
#include "model/conversions.hpp"
#include "model/keyed_list_delta.hpp"
#include "platform/values/json.hpp"
#include "sync/inbound/watch_data_source.hpp"

#include <cmath>
#include <span>

namespace watchsync {

using platform::Dictionary;
using platform::Value;

namespace {

constexpr std::string_view catalogueFileName = "watch-reference-exercises-v2.json";
constexpr std::string_view catalogueKind = "reference_exercises";

std::vector<model::ReferenceExerciseRef>
decodeCatalogue(const std::vector<const Dictionary*>& dictionaries) {
    std::vector<model::ReferenceExerciseRef> exercises;
    exercises.reserve(dictionaries.size());
    for (const auto* dictionary : dictionaries) {
        if (auto exercise = model::decodeReferenceExercise(*dictionary)) {
            exercises.push_back(
                std::make_shared<const model::ReferenceExercise>(std::move(*exercise)));
        }
    }
    return exercises;
}

// A catalogue document, whether the file on disk or a transferred one, checked down to its items.
struct CatalogueDocument {
    double revision = 0;
    std::vector<model::ReferenceExerciseRef> items;
};

std::optional<CatalogueDocument> readCatalogueDocument(const platform::Data& bytes) {
    auto parsed = platform::parseJson(
        std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    const auto* root = parsed ? parsed->dictionary() : nullptr;
    if (root == nullptr) {
        return std::nullopt;
    }
    const auto* kind = model::asString(model::lookup(*root, "kind"));
    auto version = model::asInteger(model::lookup(*root, "protocolVersion"));
    auto revision = model::asRevision(model::lookup(*root, "revision"));
    auto items = model::asDictionaryList(model::lookup(*root, "items"));
    if (kind == nullptr || *kind != catalogueKind || version != 2 || !revision || !items) {
        return std::nullopt;
    }
    return CatalogueDocument{*revision, decodeCatalogue(*items)};
}

// What JSON can carry unchanged, nested no deeper than the parser takes back: dates, raw bytes
// and non-finite numbers would be altered or lost on the way to the file.
bool isJsonValue(const Value& value, std::size_t depth) {
    switch (value.kind()) {
    case platform::ValueKind::boolean:
    case platform::ValueKind::integer:
    case platform::ValueKind::string:
        return true;
    case platform::ValueKind::real:
        return std::isfinite(*value.real());
    case platform::ValueKind::array:
        if (depth > platform::maxJsonDepth) {
            return false;
        }
        for (const auto& element : *value.array()) {
            if (!isJsonValue(element, depth + 1)) {
                return false;
            }
        }
        return true;
    case platform::ValueKind::dictionary:
        if (depth > platform::maxJsonDepth) {
            return false;
        }
        for (const auto& [key, element] : *value.dictionary()) {
            if (!isJsonValue(element, depth + 1)) {
                return false;
            }
        }
        return true;
    default:
        return false;
    }
}

bool nonEmptyList(const Value* value) {
    const auto* array = value != nullptr ? value->array() : nullptr;
    return array != nullptr && !array->empty();
}

} // namespace

void WatchDataSource::loadPersistedReferenceExercises() {
    const auto path = files_.applicationSupportDirectory() / catalogueFileName;
    if (!files_.exists(path)) {
        return;
    }
    auto bytes = files_.read(path);
    auto document = bytes ? readCatalogueDocument(*bytes) : std::nullopt;
    if (!document) {
        // The catalogue starts empty; the phone's answer brings it back.
        requestFreshData();
        return;
    }
    referenceExercises = std::move(document->items);
    lastReferenceExercisesRevision = document->revision;
    persistedReferenceExercisesRevision = document->revision;
}

void WatchDataSource::applyReferenceExercises(const Dictionary& message) {
    auto revision = model::asRevision(model::lookup(message, "referenceExercisesRevision"));
    const auto* wholeValue = model::lookup(message, "reference_exercises");
    auto whole = model::asDictionaryList(wholeValue);
    auto delta = model::readKeyedListDelta<model::ReferenceExerciseRef>(
        message, "referenceExerciseUpdates", "removedReferenceExerciseIds",
        "referenceExerciseOrder",
        [](const Dictionary& dictionary,
           std::int64_t) -> std::optional<model::ReferenceExerciseRef> {
            auto exercise = model::decodeReferenceExercise(dictionary);
            if (!exercise) {
                return std::nullopt;
            }
            return std::make_shared<const model::ReferenceExercise>(std::move(*exercise));
        });
    // Updates count as carried by their key even when none of them decodes, like the other
    // catalogues: the revision they came with still moves on.
    const bool updates =
        model::asDictionaryList(model::lookup(message, "referenceExerciseUpdates")) &&
        nonEmptyList(model::lookup(message, "referenceExerciseUpdates"));
    if (!whole && !updates && delta.removedIds.empty() && !delta.order) {
        return;
    }

    std::optional<std::vector<model::ReferenceExerciseRef>> decoded;
    std::optional<std::string> document;
    if (whole) {
        decoded = decodeCatalogue(*whole);
        if (revision && isJsonValue(*wholeValue, 2)) {
            Dictionary contents{{"kind", Value(catalogueKind)},
                                {"protocolVersion", Value(2)},
                                {"revision", Value(*revision)},
                                {"items", *wholeValue}};
            document = platform::toJsonText(Value(std::move(contents)));
        }
    }
    onMain([this, revision, decoded = std::move(decoded), document = std::move(document),
            delta = std::move(delta)] {
        if (revision) {
            if (lastReferenceExercisesRevision && *lastReferenceExercisesRevision >= *revision) {
                return;
            }
            lastReferenceExercisesRevision = revision;
        }
        if (decoded) {
            referenceExercises = *decoded;
            if (document) {
                persistReferenceExercises(
                    std::span(reinterpret_cast<const std::uint8_t*>(document->data()),
                              document->size()),
                    *revision);
            }
        } else {
            // A delta lives in memory only: the file keeps the last whole catalogue.
            model::applyKeyedListDelta(referenceExercises, delta);
        }
    });
}

void WatchDataSource::applyReferenceExercisesFile(const platform::ReceivedFile& file) {
    const auto* kind = model::asString(model::lookup(file.metadata, "syncPayloadKind"));
    if (kind == nullptr || *kind != catalogueKind ||
        model::asInteger(model::lookup(file.metadata, "syncProtocolVersion")) != 2) {
        return;
    }
    auto advertised = model::asRevision(model::lookup(file.metadata, "referenceExercisesRevision"));
    // The transferred file is gone once this callback returns.
    auto bytes = files_.read(file.path);
    auto document = bytes ? readCatalogueDocument(*bytes) : std::nullopt;
    if (!advertised || !document || document->revision != *advertised) {
        return;
    }
    onMain([this, document = std::move(*document), bytes = std::move(*bytes)] {
        const double revision = document.revision;
        // An equal revision is taken: a delta may have got there first without the file.
        if (lastReferenceExercisesRevision && *lastReferenceExercisesRevision > revision) {
            return;
        }
        if (persistedReferenceExercisesRevision &&
            *persistedReferenceExercisesRevision >= revision) {
            return;
        }
        referenceExercises = document.items;
        lastReferenceExercisesRevision = revision;
        persistReferenceExercises(bytes, revision);
    });
}

void WatchDataSource::persistReferenceExercises(std::span<const std::uint8_t> bytes,
                                                double revision) {
    const auto directory = files_.applicationSupportDirectory();
    std::string error;
    if (!files_.createDirectories(directory, &error) ||
        !files_.writeAtomically(directory / catalogueFileName, bytes, &error)) {
        // The list in memory stays; the persisted revision stays behind, so that a later
        // context asks for the catalogue again.
        log_.line("Unable to persist Watch reference exercises: " + error);
        return;
    }
    persistedReferenceExercisesRevision = revision;
}

} // namespace watchsync

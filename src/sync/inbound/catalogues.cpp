// The catalogues the phone keeps up to date on the watch besides the current workout: the
// workouts the user can start and the plate inventory, each whole or as a keyed delta under a
// revision of its own.
#include "model/conversions.hpp"
#include "model/decoding.hpp"
#include "model/keyed_list_delta.hpp"
#include "sync/inbound/watch_data_source.hpp"
#include "timer/rest_timer_manager.hpp"

#include <cmath>

namespace watchsync {

using platform::Dictionary;

namespace {

struct CatalogueKeys {
    std::string_view revision;
    std::string_view whole;
    std::string_view updates;
    std::string_view removed;
    std::string_view order;
};

constexpr CatalogueKeys availableWorkoutKeys{"availableWorkoutsRevision", "availableWorkouts",
                                             "availableWorkoutUpdates",
                                             "removedAvailableWorkoutIds", "availableWorkoutOrder"};
constexpr CatalogueKeys weightPlateKeys{"weightPlatesRevision", "weight_plates",
                                        "weightPlateUpdates", "removedWeightPlateIds",
                                        "weightPlateOrder"};

// One catalogue section of a message, read at once: either the whole list or a delta.
template <class Item> struct CatalogueChange {
    std::optional<double> revision;
    std::optional<std::vector<Item>> whole;
    model::KeyedListDelta<Item> delta;
};

template <class Item, class Decode>
std::vector<Item> decodeAll(const std::vector<const Dictionary*>& dictionaries, Decode& decode) {
    std::vector<Item> items;
    items.reserve(dictionaries.size());
    for (const auto* dictionary : dictionaries) {
        if (auto item = decode(*dictionary)) {
            items.push_back(std::move(*item));
        }
    }
    return items;
}

bool nonEmptyList(const Dictionary& message, std::string_view key) {
    const auto* value = model::lookup(message, key);
    const auto* array = value != nullptr ? value->array() : nullptr;
    return array != nullptr && !array->empty();
}

// Nothing when the section carries no list, update, removal or order: a revision alone changes
// nothing. Updates and removals count as carried by their keys, before any element is decoded.
template <class Item, class Decode>
std::optional<CatalogueChange<Item>> readCatalogueChange(const Dictionary& message,
                                                         const CatalogueKeys& keys, Decode decode) {
    CatalogueChange<Item> change;
    change.revision = model::asRevision(model::lookup(message, keys.revision));
    if (auto whole = model::asDictionaryList(model::lookup(message, keys.whole))) {
        change.whole = decodeAll<Item>(*whole, decode);
    }
    change.delta = model::readKeyedListDelta<Item>(
        message, keys.updates, keys.removed, keys.order,
        [&](const Dictionary& dictionary, std::int64_t) { return decode(dictionary); });
    const bool updates = model::asDictionaryList(model::lookup(message, keys.updates)) &&
                         nonEmptyList(message, keys.updates);
    const bool removals = !change.delta.removedIds.empty();
    if (!change.whole && !updates && !removals && !change.delta.order) {
        return std::nullopt;
    }
    return change;
}

// A message without a revision is applied unchecked and leaves the stored revision alone.
bool acceptCatalogueRevision(std::optional<double>& stored, std::optional<double> incoming) {
    if (!incoming) {
        return true;
    }
    if (stored && *stored >= *incoming) {
        return false;
    }
    stored = incoming;
    return true;
}

// The phone sends the weight as "weight"; every key is required. A weight that is not finite
// could not be stored and would keep the whole inventory from being saved.
std::optional<model::Plate> decodePlate(const Dictionary& dictionary) {
    const auto* id = model::asString(model::lookup(dictionary, "id"));
    const auto weight = model::asNumber(model::lookup(dictionary, "weight"));
    const auto quantity = model::asInteger(model::lookup(dictionary, "quantity"));
    const auto* units = model::asString(model::lookup(dictionary, "units"));
    if (id == nullptr || !weight || !std::isfinite(*weight) || !quantity || units == nullptr) {
        return std::nullopt;
    }
    return model::Plate{*id, *units, *weight, *quantity};
}

} // namespace

void WatchDataSource::applyAvailableWorkouts(const Dictionary& message) {
    auto change =
        readCatalogueChange<model::Workout>(message, availableWorkoutKeys, model::decodeWorkout);
    if (!change) {
        return;
    }
    // Takes effect after the current message, as the screens expect the list to change.
    onMain([this, change = std::move(*change)] {
        if (!acceptCatalogueRevision(lastAvailableWorkoutsRevision, change.revision)) {
            return;
        }
        if (change.whole) {
            availableWorkouts = *change.whole;
        } else {
            model::applyKeyedListDelta(availableWorkouts, change.delta);
        }
    });
}

void WatchDataSource::applyWeightPlates(const Dictionary& message) {
    if (restTimer_ == nullptr) {
        return;
    }
    auto change = readCatalogueChange<model::Plate>(message, weightPlateKeys, decodePlate);
    if (!change || !acceptCatalogueRevision(lastWeightPlatesRevision, change->revision)) {
        return;
    }
    if (change->whole) {
        restTimer_->availableWeightPlates = std::move(*change->whole);
    } else {
        model::applyKeyedListDelta(restTimer_->availableWeightPlates, change->delta);
    }
    restTimer_->saveAvailableWeightPlates();
}

} // namespace watchsync

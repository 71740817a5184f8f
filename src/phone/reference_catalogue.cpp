#include "phone/reference_catalogue.hpp"

#include "platform/values/json.hpp"

#include <algorithm>
#include <set>

namespace phone {

using platform::Array;
using platform::Dictionary;
using platform::Value;

namespace {

constexpr std::string_view kind = "reference_exercises";

const std::string* idOf(const Value& entry) {
    const auto* id = entry.find("id");
    return id != nullptr ? id->string() : nullptr;
}

} // namespace

Dictionary ReferenceCatalogue::whole(double revision) const {
    return {{"reference_exercises", entries_}, {"referenceExercisesRevision", revision}};
}

std::optional<Dictionary> ReferenceCatalogue::update(const Dictionary& entry) {
    auto id = entry.find("id");
    auto name = entry.find("name");
    if (id == entry.end() || id->second.string() == nullptr || name == entry.end() ||
        name->second.string() == nullptr) {
        return std::nullopt;
    }
    auto found = std::find_if(entries_.begin(), entries_.end(), [&](const Value& e) {
        const auto* own = idOf(e);
        return own != nullptr && *own == *id->second.string();
    });
    if (found != entries_.end()) {
        *found = entry;
    } else {
        entries_.push_back(entry);
    }
    return Dictionary{{"referenceExerciseUpdates", Array{entry}}};
}

std::optional<Dictionary> ReferenceCatalogue::remove(std::string_view id) {
    auto removed = std::erase_if(entries_, [&](const Value& e) {
        const auto* own = idOf(e);
        return own != nullptr && *own == id;
    });
    if (removed == 0) {
        return std::nullopt;
    }
    return Dictionary{{"removedReferenceExerciseIds", Array{std::string(id)}}};
}

std::optional<Dictionary> ReferenceCatalogue::reorder(const std::vector<std::string>& order) {
    std::set<std::string, std::less<>> named(order.begin(), order.end());
    if (named.size() != order.size() || order.size() != entries_.size()) {
        return std::nullopt;
    }
    Array sorted;
    for (const auto& id : order) {
        auto found = std::find_if(entries_.begin(), entries_.end(), [&](const Value& e) {
            const auto* own = idOf(e);
            return own != nullptr && *own == id;
        });
        if (found == entries_.end()) {
            return std::nullopt;
        }
        sorted.push_back(*found);
    }
    entries_ = std::move(sorted);
    return Dictionary{{"referenceExerciseOrder", Array(order.begin(), order.end())}};
}

ReferenceCatalogue::File ReferenceCatalogue::file(double revision) const {
    Dictionary document{
        {"kind", Value(kind)}, {"protocolVersion", 2}, {"revision", revision}, {"items", entries_}};
    auto text = platform::toJsonText(Value(std::move(document)));
    return File{platform::Data(text.begin(), text.end()),
                Dictionary{{"syncPayloadKind", Value(kind)},
                           {"syncProtocolVersion", 2},
                           {"referenceExercisesRevision", revision}}};
}

} // namespace phone

#include "platform/health/statistics_archive.hpp"

#include "platform/values/bplist.hpp"

#include <cmath>
#include <cstdint>
#include <string_view>

namespace platform {

namespace {

constexpr std::string_view archiverName = "NSKeyedArchiver";
constexpr std::int64_t archiveVersion = 100000;
constexpr std::string_view arrayClassName = "NSArray";
constexpr std::string_view statisticsClassName = "HKStatistics";

// Fixed slots of the encoder's object table; the decoder follows references instead.
constexpr std::int64_t rootSlot = 1;
constexpr std::int64_t arrayClassSlot = 2;
constexpr std::int64_t statisticsClassSlot = 3;
constexpr std::int64_t firstStatisticsSlot = 4;

Value classDescription(std::string_view name) {
    return Dictionary{{"$classname", std::string(name)},
                      {"$classes", Array{std::string(name), "NSObject"}}};
}

bool finite(Date date) {
    return std::isfinite(date.sinceReferenceDate);
}

std::optional<Value> encodeQuantity(HealthType type, const Quantity& quantity) {
    if (!std::isfinite(quantity.value) || !isCompatible(type, quantity.unit)) {
        return std::nullopt;
    }
    return Dictionary{{"value", quantity.value}, {"unit", std::string(unitString(quantity.unit))}};
}

std::optional<Value> encodeOne(const Statistics& statistics) {
    if (!isQuantityType(statistics.quantityType) || !finite(statistics.startDate) ||
        !finite(statistics.endDate)) {
        return std::nullopt;
    }
    Dictionary object{{"$class", statisticsClassSlot},
                      {"quantityType", std::string(identifier(statistics.quantityType))},
                      {"startDate", statistics.startDate},
                      {"endDate", statistics.endDate}};
    for (const auto& [key, quantity] :
         {std::pair{"mostRecentQuantity", &statistics.mostRecentQuantity},
          std::pair{"sumQuantity", &statistics.sumQuantity}}) {
        if (*quantity) {
            auto encoded = encodeQuantity(statistics.quantityType, **quantity);
            if (!encoded) {
                return std::nullopt;
            }
            object.emplace(key, std::move(*encoded));
        }
    }
    return object;
}

// Reading side: every step checks the shape and gives up on the first surprise.
class Reader {
public:
    explicit Reader(const Array& objects) : objects_(objects) {}

    // The object a reference names; slot 0 is the null marker and never a real object.
    const Dictionary* dictionaryAt(const Value* reference) const {
        if (reference == nullptr || reference->integer() == nullptr) {
            return nullptr;
        }
        auto index = *reference->integer();
        if (index <= 0 || static_cast<std::uint64_t>(index) >= objects_.size()) {
            return nullptr;
        }
        return objects_[static_cast<std::size_t>(index)].dictionary();
    }

    bool hasClass(const Dictionary& object, std::string_view name) const {
        auto found = object.find("$class");
        const Dictionary* description =
            dictionaryAt(found == object.end() ? nullptr : &found->second);
        if (description == nullptr) {
            return false;
        }
        auto className = description->find("$classname");
        if (className == description->end() || className->second.string() == nullptr ||
            *className->second.string() != name) {
            return false;
        }
        auto classes = description->find("$classes");
        if (classes == description->end() || classes->second.array() == nullptr) {
            return false;
        }
        const Array& chain = *classes->second.array();
        return !chain.empty() && chain.front().string() != nullptr &&
               *chain.front().string() == name;
    }

    std::optional<Statistics> statistics(const Value& reference) const {
        const Dictionary* object = dictionaryAt(&reference);
        if (object == nullptr || !hasClass(*object, statisticsClassName)) {
            return std::nullopt;
        }
        const std::string* typeName = stringAt(*object, "quantityType");
        const Date* start = dateAt(*object, "startDate");
        const Date* end = dateAt(*object, "endDate");
        if (typeName == nullptr || start == nullptr || end == nullptr || !finite(*start) ||
            !finite(*end) || *end < *start) {
            return std::nullopt;
        }
        HealthType type{};
        if (auto known = healthTypeFromIdentifier(*typeName); known && isQuantityType(*known)) {
            type = *known;
        } else {
            return std::nullopt;
        }
        Statistics result{type, *start, *end, std::nullopt, std::nullopt};
        if (!quantityAt(*object, "mostRecentQuantity", type, result.mostRecentQuantity) ||
            !quantityAt(*object, "sumQuantity", type, result.sumQuantity)) {
            return std::nullopt;
        }
        return result;
    }

private:
    static const std::string* stringAt(const Dictionary& object, std::string_view key) {
        auto found = object.find(key);
        return found == object.end() ? nullptr : found->second.string();
    }
    static const Date* dateAt(const Dictionary& object, std::string_view key) {
        auto found = object.find(key);
        return found == object.end() ? nullptr : found->second.date();
    }

    // An absent key is fine; a present one must be a well-formed quantity.
    static bool quantityAt(const Dictionary& object, std::string_view key, HealthType type,
                           std::optional<Quantity>& out) {
        auto found = object.find(key);
        if (found == object.end()) {
            return true;
        }
        const Dictionary* quantity = found->second.dictionary();
        if (quantity == nullptr) {
            return false;
        }
        auto value = quantity->find("value");
        const std::string* unitName = stringAt(*quantity, "unit");
        if (value == quantity->end() || value->second.real() == nullptr || unitName == nullptr ||
            !std::isfinite(*value->second.real())) {
            return false;
        }
        for (auto unit : {HealthUnit::countPerMinute, HealthUnit::countPerSecond,
                          HealthUnit::kilocalorie, HealthUnit::kilojoule}) {
            if (unitString(unit) == *unitName && isCompatible(type, unit)) {
                out = Quantity{*value->second.real(), unit};
                return true;
            }
        }
        return false;
    }

    const Array& objects_;
};

} // namespace

std::optional<Data> encodeStatisticsArchive(const std::vector<Statistics>& statistics) {
    Array objects{"$null", Null{}, classDescription(arrayClassName),
                  classDescription(statisticsClassName)};
    Array references;
    for (const auto& one : statistics) {
        auto encoded = encodeOne(one);
        if (!encoded) {
            return std::nullopt;
        }
        references.emplace_back(static_cast<std::int64_t>(objects.size()));
        objects.push_back(std::move(*encoded));
    }
    objects[rootSlot] = Dictionary{{"$class", arrayClassSlot}, {"NS.objects", references}};
    static_assert(firstStatisticsSlot == statisticsClassSlot + 1);

    Dictionary archive{{"$archiver", std::string(archiverName)},
                       {"$version", archiveVersion},
                       {"$top", Dictionary{{"root", rootSlot}}},
                       {"$objects", std::move(objects)}};
    return encodeBinaryPlist(archive);
}

std::optional<std::vector<Statistics>> decodeStatisticsArchive(const Data& bytes) {
    auto document = decodeBinaryPlist(bytes);
    if (!document) {
        return std::nullopt;
    }
    const Value* archiver = document->find("$archiver");
    const Value* version = document->find("$version");
    const Value* top = document->find("$top");
    const Value* objectsValue = document->find("$objects");
    if (archiver == nullptr || archiver->string() == nullptr ||
        *archiver->string() != archiverName || version == nullptr ||
        version->integer() == nullptr || *version->integer() != archiveVersion || top == nullptr ||
        objectsValue == nullptr || objectsValue->array() == nullptr) {
        return std::nullopt;
    }
    const Array& objects = *objectsValue->array();
    if (objects.empty() || objects.front().string() == nullptr ||
        *objects.front().string() != "$null") {
        return std::nullopt;
    }
    Reader reader(objects);
    const Dictionary* root = reader.dictionaryAt(top->find("root"));
    if (root == nullptr || !reader.hasClass(*root, arrayClassName)) {
        return std::nullopt;
    }
    auto elements = root->find("NS.objects");
    if (elements == root->end() || elements->second.array() == nullptr) {
        return std::nullopt;
    }
    std::vector<Statistics> result;
    for (const auto& reference : *elements->second.array()) {
        auto statistics = reader.statistics(reference);
        if (!statistics) {
            return std::nullopt;
        }
        result.push_back(std::move(*statistics));
    }
    return result;
}

} // namespace platform

#include "timer/plate_inventory.hpp"

#include "timer/json_numbers.hpp"

#include <nlohmann/json.hpp>

#include <cmath>

namespace timer {

namespace {

using Json = nlohmann::json;

std::optional<model::Plate> decodePlate(const Json& object) {
    if (!object.is_object()) {
        return std::nullopt;
    }
    const auto id = object.find("id");
    const auto units = object.find("units");
    const auto weight = object.find("plateWeight");
    const auto quantity = object.find("quantity");
    if (id == object.end() || !id->is_string() || units == object.end() || !units->is_string() ||
        weight == object.end() || !weight->is_number() || quantity == object.end()) {
        return std::nullopt;
    }
    const auto count = wholeNumber(*quantity);
    if (!count) {
        return std::nullopt;
    }
    return model::Plate{id->get<std::string>(), units->get<std::string>(), weight->get<double>(),
                        *count};
}

} // namespace

std::optional<platform::Data> encodePlateInventory(const std::vector<model::Plate>& plates) {
    nlohmann::ordered_json array = nlohmann::ordered_json::array();
    for (const auto& plate : plates) {
        if (!std::isfinite(plate.plateWeight)) {
            return std::nullopt;
        }
        nlohmann::ordered_json object = nlohmann::ordered_json::object();
        object["id"] = plate.id;
        object["units"] = plate.units;
        object["plateWeight"] = plate.plateWeight;
        object["quantity"] = plate.quantity;
        array.push_back(std::move(object));
    }
    const std::string text =
        array.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
    return platform::Data(text.begin(), text.end());
}

std::optional<std::vector<model::Plate>> decodePlateInventory(std::span<const std::uint8_t> bytes) {
    const Json array = Json::parse(bytes.begin(), bytes.end(), nullptr, false);
    if (!array.is_array()) {
        return std::nullopt;
    }
    std::vector<model::Plate> plates;
    plates.reserve(array.size());
    for (const auto& element : array) {
        auto plate = decodePlate(element);
        if (!plate) {
            return std::nullopt;
        }
        plates.push_back(std::move(*plate));
    }
    return plates;
}

} // namespace timer

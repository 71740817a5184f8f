#include "platform/health/health_types.hpp"

#include <array>
#include <utility>

namespace platform {

namespace {

constexpr std::array<std::pair<HealthType, std::string_view>, 4> typeIdentifiers{{
    {HealthType::workout, "HKWorkoutTypeIdentifier"},
    {HealthType::heartRate, "HKQuantityTypeIdentifierHeartRate"},
    {HealthType::activeEnergyBurned, "HKQuantityTypeIdentifierActiveEnergyBurned"},
    {HealthType::activitySummary, "HKActivitySummaryTypeIdentifier"},
}};

constexpr std::array<std::pair<HealthUnit, std::string_view>, 4> unitNames{{
    {HealthUnit::countPerMinute, "count/min"},
    {HealthUnit::countPerSecond, "count/s"},
    {HealthUnit::kilocalorie, "kcal"},
    {HealthUnit::kilojoule, "kJ"},
}};

constexpr double kilojoulesPerKilocalorie = 4.184;

bool isRate(HealthUnit unit) {
    return unit == HealthUnit::countPerMinute || unit == HealthUnit::countPerSecond;
}

// Each unit's value expressed in its family's base unit (count/min, kcal).
double toBase(double value, HealthUnit unit) {
    switch (unit) {
    case HealthUnit::countPerSecond:
        return value * 60.0;
    case HealthUnit::kilojoule:
        return value / kilojoulesPerKilocalorie;
    case HealthUnit::countPerMinute:
    case HealthUnit::kilocalorie:
        break;
    }
    return value;
}

double fromBase(double value, HealthUnit unit) {
    switch (unit) {
    case HealthUnit::countPerSecond:
        return value / 60.0;
    case HealthUnit::kilojoule:
        return value * kilojoulesPerKilocalorie;
    case HealthUnit::countPerMinute:
    case HealthUnit::kilocalorie:
        break;
    }
    return value;
}

} // namespace

bool isQuantityType(HealthType type) {
    return type == HealthType::heartRate || type == HealthType::activeEnergyBurned;
}

std::string_view identifier(HealthType type) {
    for (const auto& [candidate, name] : typeIdentifiers) {
        if (candidate == type) {
            return name;
        }
    }
    return {};
}

std::optional<HealthType> healthTypeFromIdentifier(std::string_view text) {
    for (const auto& [type, name] : typeIdentifiers) {
        if (name == text) {
            return type;
        }
    }
    return std::nullopt;
}

std::string_view unitString(HealthUnit unit) {
    for (const auto& [candidate, name] : unitNames) {
        if (candidate == unit) {
            return name;
        }
    }
    return {};
}

std::optional<HealthUnit> unitFromString(std::string_view text) {
    for (const auto& [unit, name] : unitNames) {
        if (name == text) {
            return unit;
        }
    }
    return std::nullopt;
}

bool isCompatible(HealthType type, HealthUnit unit) {
    switch (type) {
    case HealthType::heartRate:
        return isRate(unit);
    case HealthType::activeEnergyBurned:
        return !isRate(unit);
    case HealthType::workout:
    case HealthType::activitySummary:
        break;
    }
    return false;
}

std::optional<double> Quantity::doubleValue(HealthUnit target) const {
    if (isRate(unit) != isRate(target)) {
        return std::nullopt;
    }
    return fromBase(toBase(value, unit), target);
}

} // namespace platform

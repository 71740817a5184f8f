#include "app/complication_controller.hpp"

namespace app {

void ComplicationController::getComplicationDescriptors(
    std::function<void(std::vector<platform::ComplicationDescriptor>)> handler) {
    handler({platform::ComplicationDescriptor{
        "complication",
        "Tessaron",
        {platform::allComplicationFamilies.begin(), platform::allComplicationFamilies.end()}}});
}

void ComplicationController::handleSharedComplicationDescriptors(
    const std::vector<platform::ComplicationDescriptor>&) {}

void ComplicationController::getTimelineEndDate(
    const platform::Complication&, std::function<void(std::optional<platform::Date>)> handler) {
    handler(std::nullopt);
}

void ComplicationController::getTimelineEntries(
    const platform::Complication&, platform::Date, std::size_t,
    std::function<void(std::optional<std::vector<platform::ComplicationTimelineEntry>>)> handler) {
    handler(std::nullopt);
}

void ComplicationController::getCurrentTimelineEntry(
    const platform::Complication&,
    std::function<void(std::optional<platform::ComplicationTimelineEntry>)> handler) {
    handler(std::nullopt);
}

void ComplicationController::getPrivacyBehavior(
    const platform::Complication&,
    std::function<void(platform::ComplicationPrivacyBehavior)> handler) {
    handler(platform::ComplicationPrivacyBehavior::showOnLockScreen);
}

void ComplicationController::getLocalizableSampleTemplate(
    const platform::Complication&,
    std::function<void(std::optional<platform::ComplicationTemplate>)> handler) {
    handler(std::nullopt);
}

} // namespace app

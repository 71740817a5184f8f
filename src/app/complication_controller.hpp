#pragma once

#include "platform/complications/complication_data_source.hpp"

namespace app {

// The one watch-face complication: it shows no data, and tapping it opens the program.
class ComplicationController final : public platform::ComplicationDataSource {
public:
    void getComplicationDescriptors(
        std::function<void(std::vector<platform::ComplicationDescriptor>)> handler) override;
    void handleSharedComplicationDescriptors(
        const std::vector<platform::ComplicationDescriptor>& descriptors) override;
    void getTimelineEndDate(const platform::Complication& complication,
                            std::function<void(std::optional<platform::Date>)> handler) override;
    void getTimelineEntries(
        const platform::Complication& complication, platform::Date after, std::size_t limit,
        std::function<void(std::optional<std::vector<platform::ComplicationTimelineEntry>>)>
            handler) override;
    void getCurrentTimelineEntry(
        const platform::Complication& complication,
        std::function<void(std::optional<platform::ComplicationTimelineEntry>)> handler) override;
    void
    getPrivacyBehavior(const platform::Complication& complication,
                       std::function<void(platform::ComplicationPrivacyBehavior)> handler) override;
    void getLocalizableSampleTemplate(
        const platform::Complication& complication,
        std::function<void(std::optional<platform::ComplicationTemplate>)> handler) override;
};

} // namespace app

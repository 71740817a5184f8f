#pragma once

#include "platform/values/value.hpp"

#include <array>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// The watch face's complications as the platform asks a program about them.
namespace platform {

// The framework's raw values; 5 is not a family.
enum class ComplicationFamily {
    modularSmall = 0,
    modularLarge = 1,
    utilitarianSmall = 2,
    utilitarianLarge = 3,
    circularSmall = 4,
    utilitarianSmallFlat = 6,
    extraLarge = 7,
    graphicCorner = 8,
    graphicBezel = 9,
    graphicCircular = 10,
    graphicRectangular = 11,
    graphicExtraLarge = 12,
};

inline constexpr std::array<ComplicationFamily, 12> allComplicationFamilies = {
    ComplicationFamily::modularSmall,       ComplicationFamily::modularLarge,
    ComplicationFamily::utilitarianSmall,   ComplicationFamily::utilitarianLarge,
    ComplicationFamily::circularSmall,      ComplicationFamily::utilitarianSmallFlat,
    ComplicationFamily::extraLarge,         ComplicationFamily::graphicCorner,
    ComplicationFamily::graphicBezel,       ComplicationFamily::graphicCircular,
    ComplicationFamily::graphicRectangular, ComplicationFamily::graphicExtraLarge};

struct ComplicationDescriptor {
    std::string identifier;
    std::string displayName;
    std::vector<ComplicationFamily> supportedFamilies;
    bool operator==(const ComplicationDescriptor&) const = default;
};

// The complication the face is asking about.
struct Complication {
    std::string identifier;
    ComplicationFamily family = ComplicationFamily::modularSmall;
};

// What a complication shows at a moment; this program never shows any, so only its date is kept.
struct ComplicationTimelineEntry {
    Date date;
};
struct ComplicationTemplate {};

enum class ComplicationPrivacyBehavior { showOnLockScreen = 0, hideOnLockScreen = 1 };

// The program's answers to the face. Each answer goes through the handler the platform passes.
class ComplicationDataSource {
public:
    virtual ~ComplicationDataSource() = default;

    virtual void getComplicationDescriptors(
        std::function<void(std::vector<ComplicationDescriptor>)> handler) = 0;
    virtual void
    handleSharedComplicationDescriptors(const std::vector<ComplicationDescriptor>& descriptors) = 0;
    virtual void getTimelineEndDate(const Complication& complication,
                                    std::function<void(std::optional<Date>)> handler) = 0;
    virtual void getTimelineEntries(
        const Complication& complication, Date after, std::size_t limit,
        std::function<void(std::optional<std::vector<ComplicationTimelineEntry>>)> handler) = 0;
    virtual void getCurrentTimelineEntry(
        const Complication& complication,
        std::function<void(std::optional<ComplicationTimelineEntry>)> handler) = 0;
    virtual void getPrivacyBehavior(const Complication& complication,
                                    std::function<void(ComplicationPrivacyBehavior)> handler) = 0;
    virtual void getLocalizableSampleTemplate(
        const Complication& complication,
        std::function<void(std::optional<ComplicationTemplate>)> handler) = 0;
};

} // namespace platform

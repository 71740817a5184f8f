#include "widget/workout_widget_bundle.hpp"

#include "widget/model.hpp"
#include "widget/text_timer.hpp"

#include <dlfcn.h>

#include <algorithm>
#include <limits>

namespace glanceside {

WidgetDescription WorkoutWidget::description() {
    return {kind,
            "Up Next",
            "See the details of your next workout",
            {WidgetFamily::systemSmall, WidgetFamily::systemMedium},
            true};
}

WidgetDescription WorkoutWidgetLiveActivity::description() {
    return {kind, "", "", {}, false};
}

std::optional<WorkoutActivityAttributes>
WorkoutWidgetLiveActivity::decodeAttributes(std::string_view json) const {
    return glanceside::decodeAttributes(json);
}

std::optional<WorkoutActivityAttributes::ContentState>
WorkoutWidgetLiveActivity::decodeContentState(std::string_view json) const {
    return glanceside::decodeContentState(json);
}

std::string WorkoutWidgetLiveActivity::encodeContentState(
    const WorkoutActivityAttributes::ContentState& state) const {
    return glanceside::encodeContentState(state);
}

std::string WorkoutWidgetLiveActivity::measuringText(const DateRange& range) const {
    return textTimerMeasuringText(range);
}

std::optional<std::vector<unsigned>> parseSystemVersion(std::string_view text) {
    std::vector<unsigned> components;
    std::size_t i = 0;
    while (true) {
        if (i == text.size() || text[i] < '0' || text[i] > '9') {
            return std::nullopt;
        }
        unsigned value = 0;
        for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
            const auto digit = static_cast<unsigned>(text[i] - '0');
            if (value > (std::numeric_limits<unsigned>::max() - digit) / 10) {
                return std::nullopt;
            }
            value = value * 10 + digit;
        }
        components.push_back(value);
        if (i == text.size()) {
            return components;
        }
        if (text[i] != '.') {
            return std::nullopt;
        }
        ++i;
    }
}

bool offersLiveActivity(std::string_view systemVersion) {
    auto version = parseSystemVersion(systemVersion);
    if (!version) {
        return false;
    }
    // Missing components count as zero: "17" is 17.0.
    version->resize(std::max<std::size_t>(version->size(), 2), 0);
    const std::vector<unsigned> first{16, 2};
    return !std::lexicographical_compare(version->begin(), version->end(), first.begin(),
                                         first.end());
}

WorkoutWidgetBundle::WorkoutWidgetBundle(const HostEnvironment& environment)
    : liveActivityOffered_(offersLiveActivity(environment.systemVersion)),
      provider_(environment.appGroupDirectory, *environment.clock),
      markSetCompleted_(environment.dataDirectory, *environment.clock, environment.liveActivities) {
}

std::vector<WidgetDescription> WorkoutWidgetBundle::widgets() const {
    std::vector<WidgetDescription> offered{WorkoutWidget::description()};
    if (liveActivityOffered_) {
        offered.push_back(WorkoutWidgetLiveActivity::description());
    }
    return offered;
}

LiveActivityConfiguration* WorkoutWidgetBundle::liveActivity() {
    return liveActivityOffered_ ? &liveActivity_ : nullptr;
}

std::filesystem::path WorkoutWidgetBundle::viewsDirectory() const {
    // The views travel with the library file, wherever the host found it.
    Dl_info info{};
    if (::dladdr(reinterpret_cast<const void*>(&offersLiveActivity), &info) == 0 ||
        info.dli_fname == nullptr) {
        return {};
    }
    std::error_code error;
    auto library = std::filesystem::absolute(info.dli_fname, error);
    return library.parent_path() / "glanceside-views";
}

} // namespace glanceside

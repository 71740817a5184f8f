#include "widget/workout_widget_bundle.hpp"

#include "widget_fakes.hpp"

#include <gtest/gtest.h>

namespace {

std::vector<std::string> kinds(const glanceside::WidgetBundle& bundle) {
    std::vector<std::string> result;
    for (const auto& widget : bundle.widgets()) {
        result.push_back(widget.kind);
    }
    return result;
}

TEST(WorkoutWidgetBundle, OffersTheLiveActivityFromSystemVersion16Point2) {
    const std::vector<std::string> widgetOnly{"WorkoutWidget"};
    const std::vector<std::string> both{"WorkoutWidget", "WorkoutWidgetLiveActivity"};
    const struct {
        const char* version;
        const std::vector<std::string>& offered;
    } cases[] = {
        {"16.1", widgetOnly}, {"16.2", both},      {"17", both},
        {"16.10", both},      {"16.2.1", both},    {"16", widgetOnly},
        {"9.3", widgetOnly},  {"", widgetOnly},    {"16.", widgetOnly},
        {"16.x", widgetOnly}, {" 17", widgetOnly}, {"99999999999", widgetOnly},
    };
    widgettest::ManualClock clock;
    for (const auto& c : cases) {
        glanceside::WorkoutWidgetBundle bundle({c.version, "/absent", "/absent", &clock, nullptr});
        EXPECT_EQ(kinds(bundle), c.offered) << c.version;
        EXPECT_EQ(bundle.liveActivity() != nullptr, c.offered.size() == 2) << c.version;
    }
}

TEST(WorkoutWidgetBundle, DescribesTheHomeScreenWidget) {
    EXPECT_EQ(glanceside::WorkoutWidget::description(),
              (glanceside::WidgetDescription{
                  "WorkoutWidget",
                  "Up Next",
                  "See the details of your next workout",
                  {glanceside::WidgetFamily::systemSmall, glanceside::WidgetFamily::systemMedium},
                  true}));
}

} // namespace

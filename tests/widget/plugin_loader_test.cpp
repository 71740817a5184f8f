#include "widget/host/plugin_loader.hpp"

#include "widget_fakes.hpp"

#include "platform/files/temp_directory.hpp"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using glanceside::host::LoadedPlugin;
using glanceside::host::LoadError;
using platform::testing::TempDirectory;

// Built by the same build; see CMakeLists.txt.
const char* const pluginFile = GLANCESIDE_PLUGIN_FILE;

TEST(PluginLoader, LoadsTheBuiltPluginAndCallsItThroughItsInterface) {
    TempDirectory dir;
    TempDirectory::writeText(dir.path() / "group.tessaron.glanceside.json",
                             R"({"nextWorkout":"{\"title\":\"Day 3\",\"status\":\"Up Next\",)"
                             R"(\"exercises\":[{\"id\":\"1\",\"name\":\"Squat\"}]}"})");
    widgettest::ManualClock clock;
    widgettest::FakeActivities activities;
    activities.order = {"a"};
    activities.states = {{"a", widgettest::sampleState()}};
    const glanceside::HostEnvironment environment{"16.2", dir.path(), dir.path(), &clock,
                                                  &activities};

    auto loaded = LoadedPlugin::load(pluginFile, environment);
    ASSERT_TRUE(std::holds_alternative<LoadedPlugin>(loaded)) << std::get<LoadError>(loaded).reason;
    auto& bundle = std::get<LoadedPlugin>(loaded).bundle();

    EXPECT_EQ(bundle.widgets().size(), 2U);
    // The views travel beside the library file.
    const auto views = std::filesystem::path(pluginFile).parent_path() / "glanceside-views";
    EXPECT_EQ(bundle.viewsDirectory(), views);
    EXPECT_TRUE(std::filesystem::exists(views / "LockScreenView.qml"));
    const auto timeline = bundle.workoutProvider().timeline({});
    ASSERT_TRUE(timeline);
    EXPECT_EQ(timeline->entries.at(0).title, "Day 3");
    ASSERT_NE(bundle.liveActivity(), nullptr);
    EXPECT_EQ(bundle.liveActivity()->measuringText({{0}, {90}}), "01:30");
    bundle.markSetCompleted().perform();
    EXPECT_EQ(activities.states["a"].nextSetInfo, "Next set...");
}

TEST(PluginLoader, ReportsTheLoadersReasonForAFileThatIsNotThere) {
    const glanceside::HostEnvironment environment{"17", "/absent", "/absent", nullptr, nullptr};
    auto loaded = LoadedPlugin::load("/absent/glanceside.so", environment);
    ASSERT_TRUE(std::holds_alternative<LoadError>(loaded));
    const std::string& reason = std::get<LoadError>(loaded).reason;
    EXPECT_NE(reason.find("/absent/glanceside.so"), std::string::npos) << reason;
    EXPECT_NE(reason.find("No such file"), std::string::npos) << reason;

    // The real plug-in refuses an environment without a clock rather than crash later.
    auto refused = LoadedPlugin::load(pluginFile, environment);
    ASSERT_TRUE(std::holds_alternative<LoadError>(refused));
    EXPECT_NE(std::get<LoadError>(refused).reason.find("refused"), std::string::npos);
}

} // namespace

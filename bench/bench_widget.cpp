// The phone's widget: loading the plug-in, its timeline for a long workout, and the host drawing
// each home-screen family and the lock screen offscreen into an image.
#include "widget/host/plugin_loader.hpp"
#include "widget/host/stage.hpp"

#include <QGuiApplication>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <variant>

namespace {

using glanceside::Date;
using glanceside::host::LoadedPlugin;

class SystemClock final : public glanceside::Clock {
public:
    Date now() override {
        const auto since = std::chrono::system_clock::now().time_since_epoch();
        return Date::fromUnixSeconds(std::chrono::duration<double>(since).count());
    }
    void sleep(std::chrono::nanoseconds duration) override {
        std::this_thread::sleep_for(duration);
    }
};

// An app-group directory holding a workout of `exercises` exercises.
std::filesystem::path suiteWith(int exercises) {
    const auto dir = std::filesystem::temp_directory_path() / "bench_widget_suite";
    std::filesystem::create_directories(dir);
    std::string workout = R"({\"title\":\"Week 4 - Day 1\",\"status\":\"Up Next\",\"exercises\":[)";
    for (int i = 0; i < exercises; ++i) {
        workout += (i > 0 ? "," : "") + std::string(R"({\"id\":\"ex-)") + std::to_string(i) +
                   R"(\",\"name\":\"Exercise number )" + std::to_string(i) + R"(\"})";
    }
    workout += "]}";
    std::ofstream(dir / "group.tessaron.glanceside.json")
        << R"({"nextWorkout":")" << workout << "\"}";
    return dir;
}

// dlopen, the factory and the bundle. After the first iteration dlclose leaves the library mapped
// (its GNU unique symbols make it not unloadable), so this is a reload of a mapped library; the
// first load from disk is about a millisecond.
void BM_LoadPlugin(benchmark::State& state) {
    SystemClock clock;
    const glanceside::HostEnvironment environment{"17.0", "/nowhere", "/nowhere", &clock, nullptr};
    for (auto _ : state) {
        auto loaded = LoadedPlugin::load(GLANCESIDE_PLUGIN_FILE, environment);
        if (!std::holds_alternative<LoadedPlugin>(loaded)) {
            state.SkipWithError("the plug-in does not load");
            return;
        }
        benchmark::DoNotOptimize(loaded);
    }
}
BENCHMARK(BM_LoadPlugin)->Unit(benchmark::kMicrosecond);

void BM_Timeline50Exercises(benchmark::State& state) {
    SystemClock clock;
    const glanceside::HostEnvironment environment{"17.0", suiteWith(50), "/nowhere", &clock,
                                                  nullptr};
    auto loaded = LoadedPlugin::load(GLANCESIDE_PLUGIN_FILE, environment);
    auto& provider = std::get<LoadedPlugin>(loaded).bundle().workoutProvider();
    for (auto _ : state) {
        auto timeline = provider.timeline({});
        if (!timeline || timeline->entries.at(0).exercises.size() != 50) {
            state.SkipWithError("no timeline of 50 exercises");
            return;
        }
        benchmark::DoNotOptimize(timeline);
    }
}
BENCHMARK(BM_Timeline50Exercises)->Unit(benchmark::kMicrosecond);

QGuiApplication& application() {
    static int argc = 1;
    static char name[] = "bench_widget";
    static char* argv[] = {name, nullptr};
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static QGuiApplication app(argc, argv);
    return app;
}

// One frame drawn alone, its content changing every time (another entry, the timers a second
// on), grabbed as an image.
void BM_RenderFrame(benchmark::State& state, const char* frame) {
    application();
    glanceside::host::Stage stage(GLANCESIDE_VIEWS_DIR);
    if (!stage.error().isEmpty()) {
        state.SkipWithError(stage.error().toStdString().c_str());
        return;
    }
    stage.drawOnly(frame);
    glanceside::SimpleEntry entries[2];
    for (int i = 0; i < 2; ++i) {
        entries[i].title = "Week 4 - Day " + std::to_string(i + 1);
        entries[i].status = "Up Next";
        for (int e = 0; e < 8; ++e) {
            entries[i].exercises.push_back(
                {std::to_string(e), "Exercise " + std::to_string(e + i)});
        }
    }
    glanceside::host::ShownActivity activity;
    activity.name = "Week 4 - Day 1";
    activity.state = {"Back Squat", "5 x 225lb", {1, 0.5, 0, 0}, glanceside::DateRange{{0}, {90}},
                      "set",        "90",        {{0}, {86400}}};
    activity.measuringText = "01:30";
    stage.showActivity(activity, Date{0});
    long n = 0;
    for (auto _ : state) {
        ++n;
        stage.showEntry(entries[n % 2]);
        stage.tick(Date{static_cast<double>(n % 90)});
        const QImage image = stage.grab("all");
        if (image.isNull()) {
            state.SkipWithError("no image");
            return;
        }
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK_CAPTURE(BM_RenderFrame, systemSmall, "systemSmall")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RenderFrame, systemMedium, "systemMedium")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RenderFrame, lockScreen, "lockScreen")->Unit(benchmark::kMillisecond);

} // namespace

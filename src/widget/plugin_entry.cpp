// The plug-in's only exported symbol; everything else in the library is hidden.

#include "widget/workout_widget_bundle.hpp"

#include <type_traits>

extern "C" __attribute__((visibility("default"))) glanceside::WidgetBundle*
glanceside_create_bundle(int abiVersion, const glanceside::HostEnvironment* environment) {
    if (abiVersion != glanceside::pluginAbiVersion || environment == nullptr ||
        environment->clock == nullptr) {
        return nullptr;
    }
    try {
        return new glanceside::WorkoutWidgetBundle(*environment);
    } catch (...) {
        return nullptr;
    }
}

// The host calls through this type, so a mismatch is a compile error here rather than a crash
// there.
static_assert(
    std::is_same_v<decltype(&glanceside_create_bundle), glanceside::CreateBundleFunction>);

#pragma once

// The host's side of the widget plug-in: dlopen, the factory, and unloading in the right order.
// It includes the plug-in's interface header only and never links the plug-in.

#include "glanceside/plugin.hpp"

#include <filesystem>
#include <memory>
#include <string>
#include <variant>

namespace glanceside::host {

struct LoadError {
    // dlerror()'s text, or why the factory gave nothing.
    std::string reason;
};

// A loaded plug-in and its bundle. The bundle is deleted before the library is unloaded.
class LoadedPlugin {
public:
    // The plug-in at `file` with its bundle made for `environment`, or the loader's reason why
    // not. The environment's services must outlive the result.
    static std::variant<LoadedPlugin, LoadError> load(const std::filesystem::path& file,
                                                      const HostEnvironment& environment);

    LoadedPlugin(LoadedPlugin&&) noexcept = default;
    // Assigning would unload the old library before deleting its bundle.
    LoadedPlugin& operator=(LoadedPlugin&&) = delete;
    ~LoadedPlugin() = default;

    WidgetBundle& bundle() { return *bundle_; }

private:
    struct Unload {
        void operator()(void* handle) const;
    };

    LoadedPlugin(std::unique_ptr<void, Unload> library, std::unique_ptr<WidgetBundle> bundle)
        : library_(std::move(library)), bundle_(std::move(bundle)) {}

    // Members go in reverse order: the bundle (whose code lives in the library) first.
    std::unique_ptr<void, Unload> library_;
    std::unique_ptr<WidgetBundle> bundle_;
};

} // namespace glanceside::host

#include "widget/host/plugin_loader.hpp"

#include <dlfcn.h>

namespace glanceside::host {
namespace {

std::string lastError(const char* fallback) {
    const char* text = ::dlerror();
    return text != nullptr ? text : fallback;
}

} // namespace

void LoadedPlugin::Unload::operator()(void* handle) const {
    if (handle != nullptr) {
        ::dlclose(handle);
    }
}

std::variant<LoadedPlugin, LoadError> LoadedPlugin::load(const std::filesystem::path& file,
                                                         const HostEnvironment& environment) {
    ::dlerror();
    // RTLD_LOCAL: the plug-in's symbols (its copy of the JSON library among them) stay its own.
    std::unique_ptr<void, Unload> library(::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL));
    if (!library) {
        return LoadError{lastError("dlopen failed")};
    }
    ::dlerror();
    void* symbol = ::dlsym(library.get(), factorySymbol);
    if (symbol == nullptr) {
        return LoadError{lastError("the plug-in exports no factory")};
    }
    const auto create = reinterpret_cast<CreateBundleFunction>(symbol);
    std::unique_ptr<WidgetBundle> bundle(create(pluginAbiVersion, &environment));
    if (!bundle) {
        return LoadError{file.string() + ": the plug-in refused this host (interface version " +
                         std::to_string(pluginAbiVersion) + ", or no clock given)"};
    }
    return LoadedPlugin(std::move(library), std::move(bundle));
}

} // namespace glanceside::host

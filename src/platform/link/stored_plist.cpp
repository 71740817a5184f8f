#include "platform/link/stored_plist.hpp"

#include "platform/values/bplist.hpp"

namespace platform::phonelink {

std::optional<Dictionary> loadDictionary(const KeyValueStore& store, std::string_view key) {
    const auto bytes = store.dataForKey(key);
    if (!bytes) {
        return std::nullopt;
    }
    auto value = decodeBinaryPlist(*bytes);
    if (!value || value->dictionary() == nullptr) {
        return std::nullopt;
    }
    return std::move(*value->get<Dictionary>());
}

bool saveDictionary(KeyValueStore& store, std::string_view key, const Dictionary& dictionary) {
    const auto bytes = encodeBinaryPlist(Value(dictionary));
    if (!bytes) {
        return false;
    }
    store.setData(key, *bytes);
    return true;
}

} // namespace platform::phonelink

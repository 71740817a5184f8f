#pragma once

#include "platform/store/key_value_store.hpp"
#include "platform/values/value.hpp"

#include <optional>
#include <string_view>

// Dictionaries kept in the platform's key-value store as binary property lists.
namespace platform::phonelink {

// Nothing when the key is missing or holds something that is not an encoded dictionary.
std::optional<Dictionary> loadDictionary(const KeyValueStore& store, std::string_view key);
// False when the dictionary is not a property list (nothing is written then).
bool saveDictionary(KeyValueStore& store, std::string_view key, const Dictionary& dictionary);

} // namespace platform::phonelink

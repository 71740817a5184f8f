// Arbitrary bytes, read as the phone's binary property list and as JSON text, into the workout
// decoders: whatever arrives, decoding gives records or nothing and never crashes.
#include "model/decoding.hpp"
#include "platform/values/bplist.hpp"
#include "platform/values/json.hpp"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace {

void decodeEverything(const platform::Value& value) {
    if (const auto* dictionary = value.dictionary()) {
        auto exercise = model::decodeExercise(*dictionary, 0);
        if (exercise && exercise->id.empty() && !dictionary->contains("id")) {
            __builtin_trap();
        }
        (void)model::decodeWorkout(*dictionary);
        // A snapshot's own lists, the way the sync hub reads them.
        (void)model::decodeExerciseList(value.find("exercises"));
        (void)model::decodeExerciseList(value.find("exerciseUpdates"));
    }
    (void)model::decodeExerciseList(&value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::span<const std::uint8_t> bytes(data, size);
    if (auto value = platform::decodeBinaryPlist(bytes)) {
        decodeEverything(*value);
    }
    std::string_view text(reinterpret_cast<const char*>(data), size);
    if (auto value = platform::parseJson(text)) {
        decodeEverything(*value);
        // What the JSON codec reads it must be able to write as JSON it reads again.
        auto again = platform::parseJson(platform::toJsonText(*value));
        if (!again) {
            __builtin_trap();
        }
    }
    return 0;
}

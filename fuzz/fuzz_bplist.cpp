// Arbitrary bytes into the binary property-list decoder: it never crashes, and whatever it
// accepts is a value the encoder writes and the decoder reads back unchanged.
#include "platform/values/bplist.hpp"
#include "platform/values/bplist_support.hpp"

#include <cstddef>
#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto value = platform::decodeBinaryPlist(std::span<const std::uint8_t>(data, size));
    if (!value) {
        return 0;
    }
    if (!platform::isPropertyList(*value)) {
        __builtin_trap();
    }
    auto bytes = platform::encodeBinaryPlist(*value);
    if (!bytes) {
        __builtin_trap();
    }
    auto again = platform::decodeBinaryPlist(*bytes);
    if (!again || !bplist_test::identical(*again, *value)) {
        __builtin_trap();
    }
    return 0;
}

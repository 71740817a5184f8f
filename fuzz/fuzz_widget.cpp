// Arbitrary bytes into the widget plug-in's decoders (the phone's "nextWorkout" text, a live
// activity's attributes and content state): they never crash, and a content state or attributes
// they accept encode to JSON that decodes back to the same value.
#include "widget/model.hpp"
#include "widget/text_timer.hpp"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    (void)glanceside::decodeWidgetData(text);
    if (const auto attributes = glanceside::decodeAttributes(text)) {
        if (glanceside::decodeAttributes(glanceside::encodeAttributes(*attributes)) != attributes) {
            __builtin_trap();
        }
    }
    if (const auto state = glanceside::decodeContentState(text)) {
        if (glanceside::decodeContentState(glanceside::encodeContentState(*state)) != state) {
            __builtin_trap();
        }
        (void)glanceside::textTimerMeasuringText(state->startTime);
        if (state->lastSetCompletedDate) {
            (void)glanceside::textTimerMeasuringText(*state->lastSetCompletedDate);
        }
    }
    return 0;
}

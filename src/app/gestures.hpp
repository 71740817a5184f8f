#pragma once

#include "platform/values/value.hpp"

#include <optional>
#include <string>

namespace app {

// What the control channel asks of the screens when there are screens: each action carried out
// by pressing the real controls. Without it the channel calls the screens' logic directly.
class Gestures {
public:
    struct Answer {
        std::string kind; // "ok", "error", "screen"
        platform::Dictionary fields;
    };

    virtual ~Gestures() = default;
    // The answer to the action, or nothing when it is no action of the screens.
    virtual std::optional<Answer> perform(const std::string& action,
                                          const platform::Dictionary& arguments) = 0;
};

} // namespace app

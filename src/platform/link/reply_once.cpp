#include "platform/link/reply_once.hpp"

#include <atomic>
#include <memory>
#include <utility>

namespace platform::phonelink {

namespace {

struct OnceState {
    std::function<void(Dictionary)> answer;
    std::function<void()> repeated;
    std::function<void()> unanswered;
    std::atomic<bool> called{false};

    OnceState(std::function<void(Dictionary)> a, std::function<void()> r, std::function<void()> u)
        : answer(std::move(a)), repeated(std::move(r)), unanswered(std::move(u)) {}
    OnceState(const OnceState&) = delete;
    OnceState& operator=(const OnceState&) = delete;
    ~OnceState() {
        if (!called.load() && unanswered) {
            unanswered();
        }
    }
};

} // namespace

ReplyHandler makeOnceReply(std::function<void(Dictionary)> answer, std::function<void()> repeated,
                           std::function<void()> unanswered) {
    auto state =
        std::make_shared<OnceState>(std::move(answer), std::move(repeated), std::move(unanswered));
    return [state](Dictionary reply) {
        if (state->called.exchange(true)) {
            if (state->repeated) {
                state->repeated();
            }
            return;
        }
        state->answer(std::move(reply));
    };
}

} // namespace platform::phonelink

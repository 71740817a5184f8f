#include "widget/mark_set_completed.hpp"

#include "widget/defaults_suite.hpp"

#include <uuid/uuid.h>

#include <cstdio>

namespace glanceside {
namespace {

std::string freshUuid() {
    uuid_t bytes;
    uuid_generate_random(bytes);
    char text[37];
    uuid_unparse_upper(bytes, text);
    return std::string(text, 36);
}

void report(const std::string& reason) {
    std::printf("Unable to store the completed set: %s\n", reason.c_str());
    std::fflush(stdout);
}

} // namespace

MarkSetCompleted::MarkSetCompleted(std::filesystem::path dataDirectory, Clock& clock,
                                   LiveActivities* activities)
    : dataDirectory_(std::move(dataDirectory)), clock_(clock), activities_(activities) {}

void MarkSetCompleted::perform() {
    if (activities_ != nullptr) {
        const auto running = activities_->runningActivityIds();
        if (!running.empty()) {
            if (auto state = activities_->contentState(running.front())) {
                state->nextSetInfo = "Next set...";
                activities_->update(running.front(), *state);
            }
        }
    }
    clock_.sleep(std::chrono::nanoseconds(500'000'000));
    std::string error;
    if (!DefaultsSuite::write(dataDirectory_, standardSuiteName, setCompletedKey, freshUuid(),
                              &error)) {
        report(error);
    }
}

} // namespace glanceside

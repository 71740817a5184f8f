#include "platform/exec/manual_executor.hpp"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using Names = std::vector<std::string>;

namespace {

// The timers of the program are tested on this executor: a fault in its virtual time would hide
// theirs.
TEST(ManualExecutorTest, TasksRunAtTheirDueTimesInDueOrderWithTiesAndReadyWorkInPostingOrder) {
    platform::ManualExecutor exec;
    const auto start = exec.now();
    auto outbox = exec.makeSerialQueue("outbox");
    Names log;
    auto record = [&](std::string name) {
        return [&, name] {
            log.push_back(name + "@" + std::to_string((exec.now() - start) / 1ms));
            EXPECT_EQ(outbox->isCurrent(), name.starts_with("outbox"));
        };
    };
    exec.main().asyncAfter(3s, record("main"));
    outbox->asyncAfter(1s, [&] {
        record("outbox")();
        outbox->async(record("outbox posted"));
        exec.main().asyncAfter(500ms, record("main posted"));
    });
    exec.main().asyncAfter(2s, record("main first"));
    outbox->asyncAfter(2s, record("cancelled")).cancel();
    EXPECT_EQ(exec.advanceBy(500ms), 0u);
    // Posted later with a shorter delay, it falls due together with the others at 2 s.
    outbox->asyncAfter(1500ms, record("outbox second"));
    exec.main().async(record("main ready"));
    exec.main().asyncAfter(-1s, record("main negative delay"));

    EXPECT_EQ(exec.advanceBy(1999ms), 7u);
    EXPECT_EQ(exec.advanceTo(start + 2999ms), 0u);
    EXPECT_EQ(exec.advanceBy(1ms), 1u);
    EXPECT_EQ(log, (Names{"main ready@500", "main negative delay@500", "outbox@1000",
                          "outbox posted@1000", "main posted@1500", "main first@2000",
                          "outbox second@2000", "main@3000"}));
    EXPECT_EQ(exec.pendingCount(), 0u);
}

} // namespace

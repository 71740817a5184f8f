// The two programs over a real socket, and the watch killed with a message still waiting for the
// phone: started again on the same data, it delivers, and the phone records every message once
// and in order.
#include "app/process_support.hpp"
#include "phone/logbook.hpp"
#include "platform/files/temp_directory.hpp"
#include "platform/values/json.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

using namespace std::chrono_literals;
using processtest::Child;
using processtest::readFile;
using processtest::waitFor;

// The outbox of the last state answer in the watch's output.
platform::Array lastOutbox(const std::filesystem::path& file) {
    auto state = processtest::lastState(file);
    const auto* outbox = state ? state->find("outbox") : nullptr;
    return outbox != nullptr && outbox->array() != nullptr ? *outbox->array() : platform::Array{};
}

} // namespace

TEST(WatchRestartProcess, MessagePendingAtAKillArrivesOnceAfterTheRestart) {
    platform::testing::TempDirectory dir;
    auto link = "unix:" + (dir.path() / "link.sock").string();
    auto phoneOut = dir.path() / "phone.log";
    auto watchOut = dir.path() / "watch.log";
    auto watchArguments = std::vector<std::string>{
        WRISTSIDE, "--headless", "--link", link, "--data-dir", (dir.path() / "watch").string()};

    Child phone({PHONE_SIM, "--link", link, "--data-dir", (dir.path() / "phone").string()},
                phoneOut);
    phone.write("ack none");
    ASSERT_TRUE(waitFor(phoneOut, "go unanswered from now on")) << readFile(phoneOut);

    {
        Child watch(watchArguments, watchOut);
        ASSERT_TRUE(waitFor(phoneOut, "received refresh_data")) << readFile(phoneOut);
        watch.write(R"({"action":"state"})");
        ASSERT_TRUE(waitFor(watchOut, R"({"reply":"state")")) << readFile(watchOut);
        ASSERT_EQ(lastOutbox(watchOut).size(), 1u) << readFile(watchOut);
        watch.kill(SIGKILL);
    }

    // Started again on the same data with the phone still silent: the stored request is there,
    // replaced by the new start's own request, never doubled.
    Child watch(watchArguments, watchOut);
    ASSERT_TRUE(waitFor(phoneOut, "received refresh_data", 2)) << readFile(phoneOut);
    watch.write(R"({"action":"state"})");
    ASSERT_TRUE(waitFor(watchOut, R"({"reply":"state")", 2)) << readFile(watchOut);
    EXPECT_EQ(lastOutbox(watchOut).size(), 1u) << readFile(watchOut);

    phone.write("ack success");
    // The retry after the phone's silence is the outbox's head going out again on a flush; a
    // refresh from the control channel makes one happen now.
    watch.write(R"({"action":"refresh"})");
    ASSERT_TRUE(waitFor(phoneOut, "with Success")) << readFile(phoneOut);
    for (int i = 0; i < 100 && !lastOutbox(watchOut).empty(); ++i) {
        watch.write(R"({"action":"state"})");
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_TRUE(lastOutbox(watchOut).empty()) << readFile(watchOut);
    watch.write(R"({"action":"quit"})");
    EXPECT_EQ(watch.finish(), 0);
    phone.write("quit");
    EXPECT_EQ(phone.finish(), 0) << readFile(phoneOut);

    auto logbook = phone::Logbook::open(dir.path() / "phone" / "logbook.sqlite");
    ASSERT_TRUE(logbook);
    auto entries = logbook->entries();
    std::set<std::string> ids;
    for (const auto& entry : entries) {
        EXPECT_EQ(entry.type, "refresh_data");
        EXPECT_TRUE(ids.insert(entry.syncId).second) << "recorded twice: " << entry.syncId;
    }
    // One request from each start and the one the control channel asked for.
    EXPECT_EQ(entries.size(), 3u) << readFile(phoneOut);
}

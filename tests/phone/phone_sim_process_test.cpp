// The phone-sim program itself: its script, its exit status, its data across runs, its stop.
#include "platform/files/temp_directory.hpp"

#include "support/run_command.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

using testsupport::runCommand;

class PhoneSimProcess : public ::testing::Test {
protected:
    platform::testing::TempDirectory dir;
    std::string where = " --link unix:" + (dir.path() / "link.sock").string() + " --data-dir " +
                        (dir.path() / "data").string();

    std::string phoneSim(const std::string& script) {
        auto file = dir.path() / "script.txt";
        platform::testing::TempDirectory::writeText(file, script);
        return std::string(PHONE_SIM) + where + " --script " + file.string();
    }
};

TEST_F(PhoneSimProcess, RunsItsScriptAndExitsWithOneWhenALineWasRefused) {
    auto result =
        runCommand(phoneSim("status\nack retry\nbogus 1\nworkout 1\nsnapshot\nlogbook\nquit\n"));
    EXPECT_EQ(result.status, 1) << result.output;
    for (const char* line :
         {"phone-sim: listening on unix:", "acks Success",
          "outbox messages are acknowledged with Retry from now on",
          R"(line 3: unknown command "bogus" (help lists the commands) — nothing done)",
          R"(sent snapshot revision 1 of "Day B: Deadlift & Press")", "0 entries",
          "phone-sim: quitting"}) {
        EXPECT_NE(result.output.find(line), std::string::npos) << line << "\n" << result.output;
    }

    auto clean = runCommand(phoneSim("snapshot\nquit\n"));
    EXPECT_EQ(clean.status, 0) << clean.output;
    // The revision lives in the data directory, so it keeps growing across runs.
    EXPECT_NE(clean.output.find("sent snapshot revision 2"), std::string::npos) << clean.output;
}

TEST_F(PhoneSimProcess, StopsCleanlyOnSigterm) {
    // stdin at its end leaves phone-sim serving until the signal.
    auto result = runCommand("timeout --preserve-status -s TERM 2 " + std::string(PHONE_SIM) +
                             where + " < /dev/null");
    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_NE(result.output.find("end of commands; serving the watch"), std::string::npos)
        << result.output;
    EXPECT_NE(result.output.find("quitting"), std::string::npos) << result.output;
}

} // namespace

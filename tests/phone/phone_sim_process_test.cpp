// The phone-sim program itself: its script, its exit status, its data across runs, its stop.
#include "platform/files/temp_directory.hpp"

#include "support/run_command.hpp"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <memory>
#include <string>

namespace {

using Run = testsupport::CommandRun;

Run run(const std::string& command) {
    return testsupport::runCommand(command);
}

class PhoneSimProcess : public ::testing::Test {
protected:
    platform::testing::TempDirectory dir;

    std::string phoneSim(const std::string& script, const std::string& more = "") {
        auto file = dir.path() / "script.txt";
        platform::testing::TempDirectory::writeText(file, script);
        return std::string(PHONE_SIM) + " --link unix:" + (dir.path() / "link.sock").string() +
               " --data-dir " + (dir.path() / "data").string() + " --script " + file.string() +
               more;
    }
};

TEST_F(PhoneSimProcess, RunsItsScriptAndExitsWithOneWhenALineWasRefused) {
    auto result = run(phoneSim("status\nack retry\nbogus 1\nworkout 1\nsnapshot\nlogbook\nquit\n"));
    EXPECT_EQ(result.status, 1) << result.output;
    for (const char* line :
         {"phone-sim: listening on unix:", "acks Success",
          "outbox messages are acknowledged with Retry from now on",
          R"(line 3: unknown command "bogus" (help lists the commands) — nothing done)",
          R"(sent snapshot revision 1 of "Day B: Deadlift & Press")", "0 entries",
          "phone-sim: quitting"}) {
        EXPECT_NE(result.output.find(line), std::string::npos) << line << "\n" << result.output;
    }

    auto clean = run(phoneSim("snapshot\nquit\n"));
    EXPECT_EQ(clean.status, 0) << clean.output;
    // The revision lives in the data directory, so it keeps growing across runs.
    EXPECT_NE(clean.output.find("sent snapshot revision 2"), std::string::npos) << clean.output;
}

TEST_F(PhoneSimProcess, StopsCleanlyOnSigterm) {
    // stdin at its end leaves phone-sim serving until the signal.
    auto result = run("timeout --preserve-status -s TERM 2 " + std::string(PHONE_SIM) +
                      " --link unix:" + (dir.path() / "link.sock").string() + " --data-dir " +
                      (dir.path() / "data").string() + " < /dev/null");
    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_NE(result.output.find("end of commands; serving the watch"), std::string::npos)
        << result.output;
    EXPECT_NE(result.output.find("quitting"), std::string::npos) << result.output;
}

TEST_F(PhoneSimProcess, RefusesWhatItCannotUse) {
    auto address = run(std::string(PHONE_SIM) + " --link tcp:192.0.2.1:4000 --data-dir " +
                       (dir.path() / "data").string());
    EXPECT_EQ(address.status, 2);
    EXPECT_NE(address.output.find("--link tcp:192.0.2.1:4000"), std::string::npos)
        << address.output;

    auto script = run(std::string(PHONE_SIM) + " --script " + (dir.path() / "none").string());
    EXPECT_EQ(script.status, 1);
    EXPECT_NE(script.output.find("cannot read script"), std::string::npos) << script.output;

    auto argument = run(std::string(PHONE_SIM) + " --frobnicate");
    EXPECT_EQ(argument.status, 2);
    EXPECT_NE(argument.output.find("unexpected argument \"--frobnicate\""), std::string::npos);
}

} // namespace

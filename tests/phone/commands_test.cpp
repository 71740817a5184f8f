#include "phone/commands.hpp"

#include <gtest/gtest.h>

#include <chrono>

namespace {

using namespace std::chrono_literals;
using phone::Command;
using phone::parseCommand;
using platform::Dictionary;
namespace command = phone::command;

struct GoodLine {
    std::string line;
    Command expected;
};

TEST(CommandParser, ReadsEachCommandWithItsArguments) {
    Dictionary ping{{"type", "ping"}, {"n", 1}};
    std::vector<GoodLine> lines{
        {R"(send {"type": "ping", "n": 1})", command::Send{ping}},
        {R"(  request   {"type":"ping","n":1}  )", command::Request{ping}},
        {"transfer {\"type\":\"ping\",\"n\":1}\r", command::Transfer{ping}},
        {R"(context {})", command::Context{{}}},
        {R"(file {"name": "a}b.txt"} hello there)",
         command::File{{{"name", "a}b.txt"}},
                       {'h', 'e', 'l', 'l', 'o', ' ', 't', 'h', 'e', 'r', 'e'}}},
        {R"(file {"name": "x"} " two\nlines ")",
         command::File{{{"name", "x"}}, {' ', 't', 'w', 'o', '\n', 'l', 'i', 'n', 'e', 's', ' '}}},
        {R"(file {"name": "empty"})", command::File{{{"name", "empty"}}, {}}},
        {"start-workout", command::StartWorkout{phone::defaultWorkoutConfiguration()}},
        {R"(start-workout {"activityType": 20})", command::StartWorkout{{{"activityType", 20}}}},
        {"ack success", command::Ack{"Success"}},
        {"ack RETRY", command::Ack{"Retry"}},
        {"ack none", command::Ack{std::nullopt}},
        {"ack Failed: no such set", command::Ack{"Failed: no such set"}},
        {"fail-transfers on", command::FailTransfers{true}},
        {"fail-transfers off", command::FailTransfers{false}},
        {"reachable off", command::Reachable{false}},
        {"reachable on", command::Reachable{true}},
        {"workout 2", command::Workout{2}},
        {"snapshot", command::Snapshot{}},
        {"wait 1.5", command::Wait{1500ms}},
        {"wait 0", command::Wait{0s}},
        {"wait-for complete_set", command::WaitFor{"complete_set", phone::defaultWaitForTimeout}},
        {"wait-for refresh_data 2.5", command::WaitFor{"refresh_data", 2500ms}},
        {"logbook", command::Logbook{}},
        {"status", command::Status{}},
        {"help", command::Help{}},
        {"quit", command::Quit{}},
    };
    for (const auto& [line, expected] : lines) {
        auto parsed = parseCommand(line);
        EXPECT_EQ(parsed.error, "") << line;
        EXPECT_EQ(parsed.command, std::optional<Command>(expected)) << line;
    }
}

TEST(CommandParser, ReadsTheCommandsToTheWatchAndTheirTricks) {
    using phone::SessionAction;
    Dictionary entry{{"id", "ref-x"}, {"name", "Dip"}};
    std::vector<GoodLine> lines{
        {"session-start", command::Session{SessionAction::start, std::nullopt, true}},
        {"session-start wk1-day-b", command::Session{SessionAction::start, "wk1-day-b", true}},
        {"session-finish", command::Session{SessionAction::finish, std::nullopt, true}},
        {"session-finish discard", command::Session{SessionAction::finish, std::nullopt, false}},
        {"session-finish save w9", command::Session{SessionAction::finish, "w9", true}},
        {"session-finish w9", command::Session{SessionAction::finish, "w9", true}},
        {"session-stop", command::Session{SessionAction::stop, std::nullopt, true}},
        {"session-cancel w1", command::Session{SessionAction::cancel, "w1", true}},
        {"session-pause", command::Session{SessionAction::pause, std::nullopt, true}},
        {"session-resume w1", command::Session{SessionAction::resume, "w1", true}},
        {"health-sync off", command::HealthSync{false}},
        {"hold on", command::Hold{true}},
        {"hold off", command::Hold{false}},
        {"release", command::Release{}},
        {"release 3 1 2", command::Release{{3, 1, 2}}},
        {"resend", command::Resend{std::nullopt}},
        {"resend phone-cmd-4", command::Resend{"phone-cmd-4"}},
        {"age sequence 2", command::Age{command::Age::What::sequence, 2}},
        {"age revision 0.5", command::Age{command::Age::What::revision, 0.5}},
        {"reference-exercises", command::ReferenceExercises{false}},
        {"reference-exercises context", command::ReferenceExercises{true}},
        {"reference-file", command::ReferenceFile{}},
        {R"(reference-update {"id": "ref-x", "name": "Dip"})", command::ReferenceUpdate{entry}},
        {"reference-remove ref-x", command::ReferenceRemove{"ref-x"}},
        {"reference-order b a", command::ReferenceOrder{{"b", "a"}}},
    };
    for (const auto& [line, expected] : lines) {
        auto parsed = parseCommand(line);
        EXPECT_EQ(parsed.error, "") << line;
        EXPECT_EQ(parsed.command, std::optional<Command>(expected)) << line;
    }
}

TEST(CommandParser, IgnoresBlankLinesAndComments) {
    for (std::string line : {"", "   ", "\t\r", "# ack none", "   # snapshot"}) {
        auto parsed = parseCommand(line);
        EXPECT_FALSE(parsed.command) << line;
        EXPECT_EQ(parsed.error, "") << line;
    }
}

struct BadLine {
    std::string line;
    std::string says;
};

TEST(CommandParser, RefusesWrongLinesSayingWhatIsWrong) {
    std::vector<BadLine> lines{
        {"sned {}", R"(unknown command "sned")"},
        {"Send {}", R"(unknown command "Send")"},
        {"send", "send needs a JSON object"},
        {R"(send {"type": )", "send: the argument is not valid JSON: "},
        {R"(request {"type": "a"} trailing)", "request: the argument is not valid JSON"},
        {"transfer [1, 2]", "transfer needs a JSON object, got an array"},
        {R"(context "text")", "context needs a JSON object, got a string"},
        {R"(send {"type": null})", "null, which the link cannot carry"},
        {"file hello", "file needs a JSON object of metadata"},
        {R"(file {"name": "x"} "unterminated)", "file: the contents start with a quote"},
        {"ack", "ack needs success, retry, none or the status text"},
        {"reachable yes", R"(reachable needs on or off, got "yes")"},
        {"fail-transfers", R"(fail-transfers needs on or off, got "")"},
        {"workout", "workout needs the workout's number"},
        {"workout -1", "workout needs the workout's number"},
        {"workout 1x", R"(got "1x")"},
        {"wait", "wait needs a number of seconds"},
        {"wait -2", R"(got "-2")"},
        {"wait nan", R"(got "nan")"},
        {"wait 90000", R"(got "90000")"},
        {"wait-for", "wait-for needs the message type"},
        {"wait-for complete_set soon",
         R"(the timeout must be a number of seconds from 0 to 86400, got "soon")"},
        {"snapshot now", R"(snapshot takes no arguments, got "now")"},
        {"quit please", "quit takes no arguments"},
        {"session-pause w1 w2", R"(session-pause takes at most a workout id, got "w1 w2")"},
        {"session-finish save w1 w2", "session-finish takes save or discard and at most"},
        {"health-sync maybe", R"(health-sync needs on or off, got "maybe")"},
        {"hold", "hold needs on or off"},
        {"release 0",
         R"(release takes the held commands' positions (1 = the first held), got "0")"},
        {"release first", R"(got "first")"},
        {"resend a b", "resend takes at most one command id"},
        {"age sequence", "age needs sequence or revision and a number"},
        {"age time 3", R"(got "time 3")"},
        {"age revision inf", R"(got "revision inf")"},
        {"reference-exercises now", R"(reference-exercises takes nothing or context, got "now")"},
        {"reference-file x", "reference-file takes no arguments"},
        {"reference-update []", "reference-update needs a JSON object, got an array"},
        {"reference-remove", "reference-remove needs exactly one catalogue entry id"},
        {"reference-order", "reference-order needs every catalogue entry id"},
    };
    for (const auto& [line, says] : lines) {
        auto parsed = parseCommand(line);
        EXPECT_FALSE(parsed.command) << line;
        EXPECT_NE(parsed.error.find(says), std::string::npos)
            << line << "\n  said: " << parsed.error << "\n  expected: " << says;
    }
}

TEST(CommandParser, HelpNamesEveryCommand) {
    auto help = "\n" + std::string(phone::commandHelp());
    for (std::string word : {"send",
                             "request",
                             "transfer",
                             "context",
                             "file",
                             "start-workout",
                             "ack",
                             "fail-transfers",
                             "reachable",
                             "workout",
                             "snapshot",
                             "wait",
                             "wait-for",
                             "logbook",
                             "status",
                             "help",
                             "quit",
                             "session-start",
                             "session-finish",
                             "session-stop",
                             "session-cancel",
                             "session-pause",
                             "session-resume",
                             "health-sync",
                             "hold",
                             "release",
                             "resend",
                             "age",
                             "reference-exercises",
                             "reference-file",
                             "reference-update",
                             "reference-remove",
                             "reference-order"}) {
        EXPECT_NE(help.find("\n" + word + " "), std::string::npos) << word;
        EXPECT_FALSE(parseCommand(word).error.starts_with("unknown command")) << word;
    }
}

} // namespace

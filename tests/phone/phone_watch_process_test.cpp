// phone-sim against the real watch program over a socket: what the watch makes of the phone's
// answers to its workout lifecycle, of its commands and of its exercise catalogue.
#include "app/process_support.hpp"
#include "platform/files/temp_directory.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <thread>

namespace {

using namespace std::chrono_literals;
using platform::Value;
using processtest::Child;
using processtest::readFile;
using processtest::waitFor;

class PhoneAndWatch : public ::testing::Test {
protected:
    platform::testing::TempDirectory dir;
    std::string link = "unix:" + (dir.path() / "link.sock").string();
    std::filesystem::path phoneOut = dir.path() / "phone.txt";
    std::filesystem::path watchOut = dir.path() / "watch.txt";
    std::optional<Child> phone;
    std::optional<Child> watch;
    std::size_t stateAnswers = 0;
    std::size_t phoneRuns = 0;

    void startPhone() {
        ++phoneRuns;
        phone.emplace(std::vector<std::string>{PHONE_SIM, "--link", link, "--data-dir",
                                               (dir.path() / "phone").string()},
                      phoneOut);
        ASSERT_TRUE(waitFor(phoneOut, "session activated", phoneRuns)) << readFile(phoneOut);
    }

    void startBoth() {
        startPhone();
        watch.emplace(std::vector<std::string>{WRISTSIDE, "--headless", "--link", link,
                                               "--data-dir", (dir.path() / "watch").string()},
                      watchOut);
        ASSERT_TRUE(waitFor(phoneOut, "watch connected")) << readFile(phoneOut);
    }

    void stopPhone() {
        phone->write("quit");
        EXPECT_EQ(phone->finish(), 0) << readFile(phoneOut);
        phone.reset();
    }

    void act(const std::string& action) { watch->write(action); }

    // Asks the watch for its state until `holds` is true of it; the programs run on their own
    // clocks, so only their answers tell how far they are.
    std::optional<Value> stateWhere(const std::function<bool(const Value&)>& holds) {
        std::optional<Value> state;
        for (int i = 0; i < 300; ++i) {
            act(R"({"action":"state"})");
            if (!waitFor(watchOut, R"({"reply":"state")", ++stateAnswers)) {
                return std::nullopt;
            }
            state = processtest::lastState(watchOut);
            if (state && holds(*state)) {
                return state;
            }
            std::this_thread::sleep_for(20ms);
        }
        ADD_FAILURE() << "the watch never got there; its last state: "
                      << (state ? platform::toJsonText(*state) : std::string("none"));
        return std::nullopt;
    }

    void TearDown() override {
        if (watch) {
            act(R"({"action":"quit"})");
            watch->finish();
        }
        if (phone) {
            stopPhone();
        }
    }

    static std::vector<std::string> available(const Value& state) {
        std::vector<std::string> list;
        for (const auto& w : *state.find("availableWorkouts")->array()) {
            list.push_back(*w.find("id")->string() + ":" + *w.find("status")->string());
        }
        return list;
    }
    static bool savesToHealth(const Value& state) {
        return *state.find("session")->find("syncWorkoutsToHealth") == Value(true);
    }
    static double sequence(const Value& state) {
        const auto* value = state.find("lastPhoneCommandSequence");
        return value->real() != nullptr ? *value->real() : -1;
    }
    static std::size_t catalogueSize(const Value& state) {
        return state.find("referenceExercises")->array()->size();
    }
};

TEST_F(PhoneAndWatch, AWorkoutCompletedOnTheWatchIsRecordedAndThePlanMovesOn) {
    startBoth();
    ASSERT_TRUE(stateWhere([](const Value& s) { return available(s).size() == 1; }));
    act(R"({"action":"startWorkout","workoutId":"wk1-day-a"})");
    ASSERT_TRUE(waitFor(phoneOut, "the watch started workout wk1-day-a")) << readFile(phoneOut);
    act(R"({"action":"actionButton","exerciseId":"ex-0006","setIndex":0})");
    ASSERT_TRUE(waitFor(phoneOut, "received complete_set")) << readFile(phoneOut);
    act(R"({"action":"finishWorkout"})");
    act(R"({"action":"confirmFinish"})");
    ASSERT_TRUE(waitFor(phoneOut, "the watch completed workout wk1-day-a")) << readFile(phoneOut);

    auto done = stateWhere([](const Value& s) {
        return *s.find("syncingFinishedWorkoutStatus") == Value("success") &&
               available(s).size() == 2;
    });
    ASSERT_TRUE(done);
    EXPECT_EQ(available(*done),
              (std::vector<std::string>{"wk1-day-a:COMPLETE", "wk1-day-b:NOT_STARTED"}));

    // A new run of phone-sim goes on from where the plan was.
    stopPhone();
    startPhone();
    phone->write("status");
    ASSERT_TRUE(waitFor(phoneOut, "status:")) << readFile(phoneOut);
    EXPECT_NE(readFile(phoneOut).find(R"(current workout 1 "Day B: Deadlift & Press")"),
              std::string::npos)
        << readFile(phoneOut);
}

TEST_F(PhoneAndWatch, CommandsApplyOnceInThePhonesOrderAcrossARestartOfPhoneSim) {
    startBoth();
    phone->write("health-sync off");
    ASSERT_TRUE(stateWhere([](const Value& s) { return !savesToHealth(s) && sequence(s) == 1; }));

    // The newer command arrives first: the older one is refused.
    for (const char* line :
         {"hold on", "health-sync off", "health-sync on", "release 2 1", "hold off",
          "age sequence 1", "health-sync off", "resend phone-cmd-2"}) {
        phone->write(line);
    }
    ASSERT_TRUE(waitFor(phoneOut, "the watch has command phone-cmd-4")) << readFile(phoneOut);
    ASSERT_TRUE(waitFor(phoneOut, "the watch has command phone-cmd-2", 2)) << readFile(phoneOut);
    auto state = stateWhere([](const Value& s) { return sequence(s) == 3; });
    ASSERT_TRUE(state);
    EXPECT_TRUE(savesToHealth(*state)) << "the refused and repeated commands said off";

    // The sequence goes on growing in a new run.
    stopPhone();
    startPhone();
    ASSERT_TRUE(waitFor(phoneOut, "watch connected", 2)) << readFile(phoneOut);
    phone->write("health-sync off");
    state = stateWhere([](const Value& s) { return sequence(s) == 5; });
    ASSERT_TRUE(state);
    EXPECT_FALSE(savesToHealth(*state));
}

TEST_F(PhoneAndWatch, TheCatalogueFollowsItsRevisions) {
    startBoth();
    // The answer to the watch's first refresh brings the catalogue (revision 1).
    ASSERT_TRUE(stateWhere([](const Value& s) { return catalogueSize(s) == 12; }));
    phone->write("reference-exercises");
    phone->write("reference-remove ref-deadlift");
    ASSERT_TRUE(stateWhere([](const Value& s) { return catalogueSize(s) == 11; }));
    // An old revision of the whole catalogue changes nothing; the file brings the newest.
    phone->write("age revision 1");
    phone->write("reference-exercises");
    phone->write(R"(reference-update {"id": "ref-dip", "name": "Dip", "isRecent": true})");
    auto state = stateWhere([](const Value& s) { return catalogueSize(s) != 11; });
    ASSERT_TRUE(state);
    EXPECT_EQ(catalogueSize(*state), 12u);
    EXPECT_EQ(state->find("referenceExercises")->array()->back(), Value("ref-dip"));
    phone->write("reference-file");
    state = stateWhere([](const Value& s) {
        const auto* persisted = s.find("revisions")->find("persistedReferenceExercisesRevision");
        return persisted->real() != nullptr && *persisted->real() == 5;
    });
    ASSERT_TRUE(state);
    EXPECT_EQ(catalogueSize(*state), 12u);
}

} // namespace

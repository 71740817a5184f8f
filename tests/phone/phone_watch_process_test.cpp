// phone-sim against the real watch program over a socket: what the watch makes of the phone's
// answers to its workout lifecycle, of its commands and of its exercise catalogue.
#include "app/process_support.hpp"

#include <gtest/gtest.h>

namespace {

using processtest::readFile;
using processtest::Value;

class PhoneAndWatch : public processtest::Programs {
protected:
    void startBoth() {
        startPhone();
        startWatch();
        waitForPhone("watch connected");
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
    ASSERT_TRUE(watch->stateWhere([](const Value& s) { return available(s).size() == 1; }));
    watch->write(R"({"action":"startWorkout","workoutId":"wk1-day-a"})");
    waitForPhone("the watch started workout wk1-day-a");
    // The phone's state for the start precedes its ack: once that is in, it cannot undo the set.
    ASSERT_TRUE(
        watch->stateWhere([](const Value& s) { return s.find("outbox")->array()->empty(); }));
    watch->write(R"({"action":"actionButton","exerciseId":"ex-0006","setIndex":0})");
    waitForPhone("received complete_set");
    watch->write(R"({"action":"finishWorkout"})");
    watch->write(R"({"action":"confirmFinish"})");
    waitForPhone("the watch completed workout wk1-day-a");

    auto done = watch->stateWhere([](const Value& s) {
        return *s.find("syncingFinishedWorkoutStatus") == Value("success") &&
               available(s).size() == 2;
    });
    ASSERT_TRUE(done);
    EXPECT_EQ(available(*done),
              (std::vector<std::string>{"wk1-day-a:COMPLETE", "wk1-day-b:NOT_STARTED"}));

    // A new run of phone-sim goes on from where the plan was.
    stopPhone();
    startPhone({"status"});
    waitForPhone("status:");
    EXPECT_NE(readFile(phoneOut).find(R"(current workout 1 "Day B: Deadlift & Press")"),
              std::string::npos)
        << readFile(phoneOut);
}

TEST_F(PhoneAndWatch, CommandsApplyOnceInThePhonesOrderAcrossARestartOfPhoneSim) {
    startBoth();
    phone->write("health-sync off");
    ASSERT_TRUE(
        watch->stateWhere([](const Value& s) { return !savesToHealth(s) && sequence(s) == 1; }));

    // The newer command arrives first: the older one is refused.
    for (const char* line :
         {"hold on", "health-sync off", "health-sync on", "release 2 1", "hold off",
          "age sequence 1", "health-sync off", "resend phone-cmd-2"}) {
        phone->write(line);
    }
    waitForPhone("the watch has command phone-cmd-4");
    waitForPhone("the watch has command phone-cmd-2", 2);
    auto state = watch->stateWhere([](const Value& s) { return sequence(s) == 3; });
    ASSERT_TRUE(state);
    EXPECT_TRUE(savesToHealth(*state)) << "the refused and repeated commands said off";

    // The sequence goes on growing in a new run.
    stopPhone();
    startPhone();
    waitForPhone("watch connected", 2);
    phone->write("health-sync off");
    state = watch->stateWhere([](const Value& s) { return sequence(s) == 5; });
    ASSERT_TRUE(state);
    EXPECT_FALSE(savesToHealth(*state));
}

TEST_F(PhoneAndWatch, TheCatalogueFollowsItsRevisions) {
    startBoth();
    // The answer to the watch's first refresh brings the catalogue (revision 1).
    ASSERT_TRUE(watch->stateWhere([](const Value& s) { return catalogueSize(s) == 12; }));
    phone->write("reference-exercises");
    phone->write("reference-remove ref-deadlift");
    ASSERT_TRUE(watch->stateWhere([](const Value& s) { return catalogueSize(s) == 11; }));
    // An old revision of the whole catalogue changes nothing; the file brings the newest.
    phone->write("age revision 1");
    phone->write("reference-exercises");
    phone->write(R"(reference-update {"id": "ref-dip", "name": "Dip", "isRecent": true})");
    auto state = watch->stateWhere([](const Value& s) { return catalogueSize(s) != 11; });
    ASSERT_TRUE(state);
    EXPECT_EQ(catalogueSize(*state), 12u);
    EXPECT_EQ(state->find("referenceExercises")->array()->back(), Value("ref-dip"));
    phone->write("reference-file");
    state = watch->stateWhere([](const Value& s) {
        const auto* persisted = s.find("revisions")->find("persistedReferenceExercisesRevision");
        return persisted->real() != nullptr && *persisted->real() == 5;
    });
    ASSERT_TRUE(state);
    EXPECT_EQ(catalogueSize(*state), 12u);
}

} // namespace

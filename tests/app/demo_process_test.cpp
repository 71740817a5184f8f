// The two programs over the path that needs no link: phone-sim writes a workout as the phone
// sends it, and the watch program decodes it.
#include "model/decoding.hpp"
#include "phone/training_plan.hpp"
#include "platform/files/temp_directory.hpp"
#include "platform/values/json.hpp"

#include "support/run_command.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

using testsupport::runCommand;

TEST(DemoProcess, WatchDecodesEveryExerciseOfThePhonesWorkoutAndRefusesAnythingElse) {
    platform::testing::TempDirectory dir;
    auto file = [&dir](const char* name) { return (dir.path() / name).string(); };
    auto written = runCommand(std::string(PHONE_SIM) + " --write-snapshot " +
                              file("snapshot.bplist") + " --workout 1");
    ASSERT_EQ(written.status, 0) << written.output;

    auto decoded = runCommand(std::string(WRISTSIDE) + " --headless --json --snapshot " +
                              file("snapshot.bplist"));
    ASSERT_EQ(decoded.status, 0) << decoded.output;
    auto state = platform::parseJson(decoded.output);
    ASSERT_TRUE(state) << decoded.output;
    const auto* exercises = state->find("exercises");
    ASSERT_TRUE(exercises && exercises->array());

    auto plan = phone::parseTrainingPlan(phone::embeddedDemoPlanText());
    auto expected = model::decodeWorkout(*plan->workouts.at(1).dictionary());
    ASSERT_EQ(exercises->array()->size(), expected->exercises.size());
    for (std::size_t i = 0; i < expected->exercises.size(); ++i) {
        const auto& shown = exercises->array()->at(i);
        EXPECT_EQ(*shown.find("id"), platform::Value(expected->exercises[i]->id));
        EXPECT_EQ(shown.find("exerciseSets")->array()->size(),
                  expected->exercises[i]->exerciseSets->size());
    }

    // Bytes that are not a snapshot are refused.
    ASSERT_EQ(runCommand("printf 'bplist00garbage' > " + file("garbage")).status, 0);
    auto garbage = runCommand(std::string(WRISTSIDE) + " --headless --snapshot " + file("garbage"));
    EXPECT_NE(garbage.status, 0);
    EXPECT_NE(garbage.output.find("not a binary property list"), std::string::npos)
        << garbage.output;
    EXPECT_NE(runCommand(std::string(WRISTSIDE) + " --headless --snapshot " + file("none")).status,
              0);
}

} // namespace

// The two programs over the one path that exists between them today: phone-sim writes a workout
// as the phone sends it, and the watch program decodes it.
#include "model/decoding.hpp"
#include "phone/training_plan.hpp"
#include "platform/values/json.hpp"

#include "support/run_command.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

using Run = testsupport::CommandRun;

Run run(const std::string& command) {
    return testsupport::runCommand(command);
}

class DemoProcess : public ::testing::Test {
protected:
    std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("wristside-demo-" + std::to_string(::getpid()));
    void SetUp() override { std::filesystem::create_directories(dir); }
    void TearDown() override { std::filesystem::remove_all(dir); }
};

} // namespace

TEST_F(DemoProcess, WatchDecodesEveryExerciseOfThePhonesWorkout) {
    auto file = (dir / "snapshot.bplist").string();
    auto written = run(std::string(PHONE_SIM) + " --write-snapshot " + file + " --workout 1");
    ASSERT_EQ(written.status, 0) << written.output;

    auto decoded = run(std::string(WRISTSIDE) + " --headless --json --snapshot " + file);
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
}

TEST_F(DemoProcess, WatchRefusesBytesThatAreNotASnapshot) {
    auto file = (dir / "garbage.bplist").string();
    ASSERT_EQ(run("printf 'bplist00garbage' > " + file).status, 0);
    auto decoded = run(std::string(WRISTSIDE) + " --headless --snapshot " + file);
    EXPECT_NE(decoded.status, 0);
    EXPECT_NE(decoded.output.find("not a binary property list"), std::string::npos)
        << decoded.output;

    auto missing =
        run(std::string(WRISTSIDE) + " --headless --snapshot " + (dir / "none").string());
    EXPECT_NE(missing.status, 0);
}

TEST_F(DemoProcess, PhoneSimRefusesAWorkoutItDoesNotHave) {
    auto result =
        run(std::string(PHONE_SIM) + " --write-snapshot " + (dir / "x").string() + " --workout 99");
    EXPECT_NE(result.status, 0);
    EXPECT_NE(result.output.find("no workout 99"), std::string::npos) << result.output;
}

#include "phone/command_sender.hpp"

#include "platform/values/json.hpp"

#include <gtest/gtest.h>

namespace phone {
void PrintTo(const PhoneCommand& command, std::ostream* out) {
    *out << command.id << " " << platform::toJsonText(platform::Value(command.message));
}
} // namespace phone

namespace {

using phone::CommandSender;
using phone::PhoneCommand;
using phone::SessionAction;
using platform::Dictionary;
using platform::Value;

TEST(SessionCommands, CarryTheKeysAndDatesTheWatchReads) {
    auto at = 1767603900000.0;
    EXPECT_EQ(phone::sessionCommand(SessionAction::start, "w1", at),
              (Dictionary{
                  {"start_workout_session", Dictionary{{"workoutId", "w1"}, {"occurredAt", at}}}}));
    EXPECT_EQ(
        phone::sessionCommand(SessionAction::finish, "w1", at, false),
        (Dictionary{{"finish_workout_session",
                     Dictionary{{"workoutId", "w1"}, {"endedAt", at}, {"saveToHealth", false}}}}));
    EXPECT_EQ(phone::sessionCommand(SessionAction::stop, "w1", at),
              (Dictionary{
                  {"stop_workout_session", Dictionary{{"workoutId", "w1"}, {"occurredAt", at}}}}));
    EXPECT_EQ(phone::sessionCommand(SessionAction::cancel, "w1", at),
              (Dictionary{{"cancel_workout_session",
                           Dictionary{{"workoutId", "w1"}, {"occurredAt", at}}}}));
    EXPECT_EQ(phone::sessionCommand(SessionAction::pause, "w1", at),
              (Dictionary{{"pause_workout_session_v2",
                           Dictionary{{"workoutId", "w1"}, {"occurredAt", at}}}}));
    EXPECT_EQ(phone::sessionCommand(SessionAction::resume, "w1", at),
              (Dictionary{{"resume_workout_session_v2",
                           Dictionary{{"workoutId", "w1"}, {"occurredAt", at}}}}));
}

TEST(SessionCommands, OnlyEndingTheSessionAndTimerCorrectionsStandOutsideTheOrder) {
    for (auto action : {SessionAction::start, SessionAction::finish, SessionAction::stop,
                        SessionAction::cancel}) {
        EXPECT_FALSE(phone::isOrderedCommand(phone::sessionCommand(action, "w", 1)))
            << phone::describe(action);
    }
    EXPECT_TRUE(phone::isOrderedCommand(phone::sessionCommand(SessionAction::pause, "w", 1)));
    EXPECT_TRUE(phone::isOrderedCommand(phone::sessionCommand(SessionAction::resume, "w", 1)));
    EXPECT_TRUE(phone::isOrderedCommand({{"syncWorkoutsToHealth", true}}));
    EXPECT_FALSE(phone::isOrderedCommand({{"timerCorrectionForId", "T1"}}));
    EXPECT_FALSE(phone::isOrderedCommand({{"timerCorrectionForStartTime", 5.0}}));
}

class Sender : public ::testing::Test {
protected:
    std::int64_t counter = 0;
    bool countersWork = true;
    std::vector<PhoneCommand> delivered;
    CommandSender sender{[this]() -> std::optional<std::int64_t> {
                             if (!countersWork) {
                                 return std::nullopt;
                             }
                             return ++counter;
                         },
                         [this](const PhoneCommand& c) { delivered.push_back(c); }};

    std::vector<std::string> deliveredIds() const {
        std::vector<std::string> ids;
        for (const auto& c : delivered) {
            ids.push_back(c.id);
        }
        return ids;
    }
};

TEST_F(Sender, GivesEachCommandANewIdAndOrderedOnesAGrowingSequence) {
    auto pause = sender.issue(phone::sessionCommand(SessionAction::pause, "w", 1), "pause");
    auto stop = sender.issue(phone::sessionCommand(SessionAction::stop, "w", 2), "stop");
    auto health = sender.issue({{"syncWorkoutsToHealth", false}}, "health");
    ASSERT_TRUE(pause && stop && health);
    ASSERT_EQ(delivered.size(), 3u);
    EXPECT_EQ(delivered[0].message.at("commandId"), Value(pause->id));
    EXPECT_EQ(delivered[0].message.at("commandSequence"), Value(1.0));
    EXPECT_FALSE(delivered[1].message.contains("commandSequence")) << "a stop is never refused";
    EXPECT_FALSE(stop->sequence);
    EXPECT_EQ(delivered[2].message.at("commandSequence"), Value(3.0));
    EXPECT_EQ(delivered[2].message.at("syncWorkoutsToHealth"), Value(false));
    EXPECT_NE(pause->id, stop->id);
    EXPECT_NE(stop->id, health->id);
    EXPECT_FALSE(delivered[0].message.contains("syncRevision"));

    countersWork = false;
    EXPECT_FALSE(sender.issue({{"syncWorkoutsToHealth", true}}, "health"));
    EXPECT_EQ(delivered.size(), 3u);
}

TEST_F(Sender, HoldsCommandsBackAndReleasesThemInAnyOrder) {
    sender.setHolding(true);
    auto first = sender.issue({{"syncWorkoutsToHealth", true}}, "one");
    auto second = sender.issue({{"syncWorkoutsToHealth", false}}, "two");
    auto third = sender.issue(phone::sessionCommand(SessionAction::cancel, "w", 3), "three");
    EXPECT_TRUE(delivered.empty());
    ASSERT_EQ(sender.held().size(), 3u);

    EXPECT_FALSE(sender.release({4}));
    EXPECT_FALSE(sender.release({1, 1}));
    EXPECT_FALSE(sender.release({0}));
    EXPECT_TRUE(delivered.empty()) << "a wrong release sends nothing";

    ASSERT_TRUE(sender.release({3, 2}));
    EXPECT_EQ(deliveredIds(), (std::vector<std::string>{third->id, second->id}));
    // The later one went first, with the sequence it was given when issued.
    EXPECT_EQ(delivered[1].message.at("commandSequence"), Value(2.0));
    ASSERT_EQ(sender.held().size(), 1u);
    EXPECT_EQ(sender.held().front().id, first->id);

    // Still holding: a new command joins the held ones.
    auto fourth = sender.issue({{"syncWorkoutsToHealth", true}}, "four");
    sender.setHolding(false);
    auto fifth = sender.issue({{"syncWorkoutsToHealth", true}}, "five");
    ASSERT_TRUE(sender.release());
    EXPECT_EQ(deliveredIds(),
              (std::vector<std::string>{third->id, second->id, fifth->id, first->id, fourth->id}));
    EXPECT_TRUE(sender.held().empty());
    EXPECT_TRUE(sender.release()) << "releasing nothing is fine";
}

TEST_F(Sender, ResendsACommandUnchanged) {
    EXPECT_FALSE(sender.resend());
    auto first = sender.issue({{"syncWorkoutsToHealth", true}}, "one");
    sender.issue(phone::sessionCommand(SessionAction::stop, "w", 3), "two");
    ASSERT_TRUE(sender.resend());
    auto again = sender.resend(first->id);
    ASSERT_TRUE(again);
    EXPECT_EQ(*again, *first);
    ASSERT_EQ(delivered.size(), 4u);
    EXPECT_EQ(delivered[2], delivered[1]) << "without an id, the last one sent goes again";
    EXPECT_EQ(delivered[3], delivered[0]);
    EXPECT_FALSE(sender.resend("phone-cmd-99"));
    EXPECT_EQ(counter, 2) << "a resend takes no new number";
    EXPECT_EQ(sender.sent().size(), 4u);
}

TEST_F(Sender, SendsTheNextCommandWithAnAgedSequenceOrRevision) {
    sender.issue({{"syncWorkoutsToHealth", true}}, "one");
    sender.issue({{"syncWorkoutsToHealth", true}}, "two");
    sender.ageNextSequence(1);
    // An exempt command carries no sequence, so the aged one waits for the next ordered one.
    sender.issue(phone::sessionCommand(SessionAction::stop, "w", 3), "stop");
    auto aged = sender.issue({{"syncWorkoutsToHealth", false}}, "aged");
    auto fresh = sender.issue({{"syncWorkoutsToHealth", false}}, "fresh");
    EXPECT_EQ(aged->message.at("commandSequence"), Value(1.0));
    EXPECT_EQ(fresh->message.at("commandSequence"), Value(5.0));
    EXPECT_NE(aged->id, delivered[0].id) << "an aged command is still a new command";

    sender.ageNextRevision(3);
    auto stale = sender.issue(phone::sessionCommand(SessionAction::pause, "w", 4), "stale");
    EXPECT_EQ(stale->message.at("syncRevision"), Value(3.0));
    EXPECT_FALSE(
        sender.issue({{"syncWorkoutsToHealth", true}}, "x")->message.contains("syncRevision"));

    sender.ageNextRevision(2);
    EXPECT_EQ(sender.takeAgedRevision(), 2.0);
    EXPECT_FALSE(sender.takeAgedRevision());
}

TEST_F(Sender, RemembersWhichCommandsTheWatchHas) {
    auto command = sender.issue({{"syncWorkoutsToHealth", true}}, "one");
    EXPECT_FALSE(sender.isAcknowledged(command->id));
    sender.acknowledged(command->id);
    sender.acknowledged(command->id);
    EXPECT_TRUE(sender.isAcknowledged(command->id));
    EXPECT_FALSE(sender.isAcknowledged("phone-cmd-2"));
}

} // namespace

// phone-sim's app and the watch's session engine joined by the simulated link, on the manual
// executor: what the watch sees of the phone.
#include "phone/phone_app.hpp"
#include "phone/phone_link.hpp"
#include "phone/training_plan.hpp"
#include "platform/exec/manual_executor.hpp"
#include "platform/files/file_system.hpp"
#include "platform/files/temp_directory.hpp"
#include "platform/link/session_engine.hpp"
#include "platform/link/simulated_link.hpp"
#include "platform/log/log.hpp"
#include "platform/store/memory_key_value_store.hpp"

#include <gtest/gtest.h>

#include <chrono>

namespace {

using namespace std::chrono_literals;
using platform::Dictionary;
using platform::LinkRole;
using platform::SessionError;

class WatchDelegate final : public platform::SessionDelegate {
public:
    std::vector<bool> reachability;
    std::vector<Dictionary> messages;
    std::vector<Dictionary> userInfos;
    std::vector<std::pair<Dictionary, std::optional<SessionError>>> finished;

    void activationDidComplete(platform::ActivationState, std::optional<SessionError>) override {}
    void reachabilityDidChange(bool reachable) override { reachability.push_back(reachable); }
    void didReceiveMessage(const Dictionary& message,
                           std::optional<platform::ReplyHandler>) override {
        messages.push_back(message);
    }
    void didReceiveUserInfo(const Dictionary& userInfo) override { userInfos.push_back(userInfo); }
    void didReceiveApplicationContext(const Dictionary&) override {}
    void didFinishUserInfoTransfer(const platform::UserInfoTransfer& transfer,
                                   std::optional<SessionError> error) override {
        finished.emplace_back(transfer.userInfo, std::move(error));
    }
    void didReceiveFile(const platform::ReceivedFile&) override {}
};

class PhoneOverSimulatedLink : public ::testing::Test {
protected:
    platform::ManualExecutor executor;
    platform::MemoryLog log;
    platform::testing::TempDirectory dir;
    platform::SimulatedLink link{executor, platform::LinkFaults{}, 7};

    platform::MemoryKeyValueStore watchStore;
    platform::MemoryFileSystem watchFiles;
    WatchDelegate watchDelegate;
    platform::SessionEngine watch{
        LinkRole::watch, link.attach(LinkRole::watch), {executor, watchStore, watchFiles, log}};

    platform::MemoryKeyValueStore phoneStore;
    platform::MemoryFileSystem phoneFiles;
    phone::PhoneLink phoneLink{link.attach(LinkRole::phone),
                               {executor, phoneStore, phoneFiles, log}};
    phone::TrainingPlan plan = *phone::parseTrainingPlan(phone::embeddedDemoPlanText());
    std::unique_ptr<phone::PhoneApp> app;

    void SetUp() override {
        app = phone::PhoneApp::open({executor, phoneLink.session(), log, dir.path(), &phoneLink},
                                    plan);
        ASSERT_TRUE(app);
        app->start();
        watch.setDelegate(&watchDelegate);
        watch.activate();
        executor.advanceBy(1s);
        ASSERT_TRUE(watch.isReachable());
    }

    void TearDown() override { app.reset(); }

    static Dictionary outboxMessage(std::string type, std::string syncId) {
        return {
            {"type", std::move(type)}, {"syncId", std::move(syncId)}, {"payload", Dictionary{}}};
    }
    static Dictionary ack(std::string syncId) {
        return {{"syncAck", std::move(syncId)}, {"status", "Success"}};
    }
};

TEST_F(PhoneOverSimulatedLink, AcknowledgesBothCopiesOfAnOutboxMessageAndRecordsItOnce) {
    auto message = outboxMessage("complete_set", "S1");
    watch.sendMessage(message, std::nullopt, [](SessionError) {});
    watch.transferUserInfo(message);
    executor.advanceBy(1s);

    EXPECT_EQ(watchDelegate.messages, (std::vector<Dictionary>{ack("S1"), ack("S1")}));
    ASSERT_EQ(app->logbookEntries().size(), 1u);
    EXPECT_EQ(app->logbookEntries()[0].syncId, "S1");
    ASSERT_EQ(watchDelegate.finished.size(), 1u);
    EXPECT_EQ(watchDelegate.finished[0].second, std::nullopt);
}

TEST_F(PhoneOverSimulatedLink, AnswersARefreshWithASnapshotTheWatchReceives) {
    watch.sendMessage(outboxMessage("refresh_data", "R1"), std::nullopt, [](SessionError) {});
    executor.advanceBy(1s);
    ASSERT_EQ(watchDelegate.messages.size(), 2u);
    // The workout as the plan has it, with the catalogues beside it.
    auto answer = watchDelegate.messages[0];
    auto snapshot = *phone::workoutSnapshot(plan, 0, 1);
    for (const auto& [key, value] : snapshot) {
        EXPECT_EQ(answer[key], value) << key;
    }
    EXPECT_EQ(answer["weight_plates"], platform::Value(plan.weightPlates));
    EXPECT_EQ(watchDelegate.messages[1], ack("R1"));
}

TEST_F(PhoneOverSimulatedLink, FailsTheWatchsTransfersWhileToldTo) {
    ASSERT_TRUE(app->setFailTransfers(true));
    watch.transferUserInfo(outboxMessage("complete_set", "S1"));
    executor.advanceBy(1s);
    ASSERT_EQ(watchDelegate.finished.size(), 1u);
    ASSERT_TRUE(watchDelegate.finished[0].second);
    EXPECT_EQ(watchDelegate.finished[0].second->code, SessionError::Code::transferFailed);
    EXPECT_TRUE(app->logbookEntries().empty());
    EXPECT_TRUE(watchDelegate.messages.empty());

    ASSERT_TRUE(app->setFailTransfers(false));
    watch.transferUserInfo(outboxMessage("complete_set", "S1"));
    executor.advanceBy(1s);
    ASSERT_EQ(watchDelegate.finished.size(), 2u);
    EXPECT_EQ(watchDelegate.finished[1].second, std::nullopt);
    EXPECT_EQ(app->logbookEntries().size(), 1u);
}

TEST_F(PhoneOverSimulatedLink, AnswersByTransferWhileThePhoneAppIsNotReachable) {
    ASSERT_TRUE(app->setReachable(false));
    executor.advanceBy(1s);
    EXPECT_FALSE(watch.isReachable());
    EXPECT_EQ(watchDelegate.reachability.back(), false);

    watch.transferUserInfo(outboxMessage("complete_set", "S1"));
    executor.advanceBy(1s);
    EXPECT_TRUE(watchDelegate.messages.empty());
    EXPECT_EQ(watchDelegate.userInfos, std::vector<Dictionary>{ack("S1")});

    ASSERT_TRUE(app->setReachable(true));
    executor.advanceBy(1s);
    EXPECT_TRUE(watch.isReachable());
}

} // namespace

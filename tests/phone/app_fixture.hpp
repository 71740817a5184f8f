#pragma once

#include "phone/fake_phone_session.hpp"
#include "phone/phone_app.hpp"
#include "phone/training_plan.hpp"
#include "platform/exec/manual_executor.hpp"
#include "platform/files/temp_directory.hpp"
#include "platform/log/log.hpp"

#include <gtest/gtest.h>

#include <memory>

namespace phone::testing {

// A phone app on the manual executor over the fake session, with its data in a temp directory.
class AppFixture : public ::testing::Test {
protected:
    platform::ManualExecutor executor;
    platform::MemoryLog log;
    platform::testing::TempDirectory dir;
    fakes::FakePhoneSession session{executor};
    TrainingPlan plan = *parseTrainingPlan(embeddedDemoPlanText());
    std::unique_ptr<PhoneApp> app;

    void SetUp() override { startApp(); }

    void startApp(PhoneLinkControls* controls = nullptr) {
        std::string error;
        app = PhoneApp::open({executor, session, log, dir.path() / "data",
                              controls != nullptr ? controls : &session},
                             plan, &error);
        ASSERT_TRUE(app) << error;
        app->start();
        executor.runUntilIdle();
    }

    static platform::Dictionary outboxMessage(std::string type, std::string syncId,
                                              platform::Dictionary payload = {}) {
        return {{"type", std::move(type)},
                {"syncId", std::move(syncId)},
                {"payload", std::move(payload)}};
    }

    static platform::Dictionary ack(std::string syncId, std::string status = "Success") {
        return {{"syncAck", std::move(syncId)}, {"status", std::move(status)}};
    }

    std::vector<std::string> loggedSyncIds() const {
        std::vector<std::string> ids;
        for (const auto& entry : app->logbookEntries()) {
            ids.push_back(entry.syncId);
        }
        return ids;
    }
};

} // namespace phone::testing

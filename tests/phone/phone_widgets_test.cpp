// phone-sim's widget part: the live activity's content state, the shared suite it writes, the
// widget host it talks to, and the lock screen's "Complete Set".
#include "phone/widget/host_client.hpp"
#include "phone/widget/phone_widgets.hpp"
#include "phone/widget/suite_file.hpp"
#include "phone/widget/widget_content.hpp"
#include "phone/widget/widget_publisher.hpp"
#include "platform/link/link_harness.hpp"
#include "sim/sim_support.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <mutex>
#include <thread>

namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using platform::Array;
using platform::Dictionary;

// 2024-01-01T00:00:00Z, as seconds since 2001 and as milliseconds since 1970.
constexpr double day0 = 725'760'000;
constexpr double day0UnixMs = 1'704'067'200'000;

Dictionary set(std::string id, platform::Value reps, platform::Value weight,
               std::optional<std::int64_t> rest, std::optional<std::string> completedAt) {
    Dictionary set{{"id", std::move(id)}, {"reps", std::move(reps)}, {"weight", std::move(weight)}};
    if (rest) {
        set.insert_or_assign("timerSeconds", *rest);
    }
    set.insert_or_assign("status", completedAt ? "COMPLETE" : "NOT_STARTED");
    if (completedAt) {
        set.insert_or_assign("dateCompleted", *completedAt);
    }
    return set;
}

Dictionary workoutWith(Array squatSets, Array benchSets) {
    return {{"id", "w1"},
            {"name", "Day A"},
            {"status", "IN_PROGRESS"},
            {"dateStarted", day0UnixMs},
            {"exercises",
             Array{Dictionary{{"id", "e1"},
                              {"name", "Squat"},
                              {"weightUnits", "lb"},
                              {"exerciseSets", std::move(squatSets)}},
                   Dictionary{{"id", "e2"},
                              {"name", "Bench"},
                              {"weightUnits", "kg"},
                              {"exerciseSets", std::move(benchSets)}},
                   Dictionary{{"id", "e3"}, {"name", "Stretch"}, {"exerciseSets", Array{}}}}}};
}

TEST(WidgetContent, ContentStateFollowsTheFirstOpenSetAndTheNewestCompletion) {
    const std::string at10 = "2024-01-01T00:10:00Z";
    const std::string at12 = "2024-01-01T00:12:00Z";
    const std::string at14 = "2024-01-01T00:14:00Z";
    struct Case {
        const char* what;
        Dictionary workout;
        json expected;
    };
    const Case cases[] = {
        {"none complete",
         workoutWith({set("s1", "5", "225", 90, {}), set("s2", "5", "225", 120, {})},
                     {set("s3", 8, 60.5, {}, {})}),
         {{"nextSetName", "Squat"},
          {"nextSetInfo", "5 x 225lb"},
          {"setId", "s1"},
          {"percentageComplete", {0.0, 0.0, 0.0}}}},
        {"first complete, with rest",
         workoutWith({set("s1", "5", "225", 90, at10), set("s2", "5", "225", 120, {})},
                     {set("s3", 8, 60.5, {}, {})}),
         {{"nextSetName", "Squat"},
          {"nextSetInfo", "5 x 225lb"},
          {"setId", "s2"},
          {"percentageComplete", {0.5, 0.0, 0.0}},
          {"lastSetCompletedDate", {day0 + 600, day0 + 690}},
          {"timerSeconds", "90"}}},
        // The newest completion counts, not the last set in order.
        {"completed out of order",
         workoutWith({set("s1", "5", "225", 90, at14), set("s2", "5", "225", 120, at12)},
                     {set("s3", 8, 60.5, {}, {})}),
         {{"nextSetName", "Bench"},
          {"nextSetInfo", "8 x 60.5kg"},
          {"setId", "s3"},
          {"percentageComplete", {1.0, 0.0, 0.0}},
          {"lastSetCompletedDate", {day0 + 840, day0 + 930}},
          {"timerSeconds", "90"}}},
        {"all complete, the newest without rest",
         workoutWith({set("s1", "5", "225", 90, at10), set("s2", "5", "225", 120, at12)},
                     {set("s3", 8, 60.5, {}, at14)}),
         {{"nextSetName", "Workout complete"},
          {"nextSetInfo", ""},
          {"setId", ""},
          {"percentageComplete", {1.0, 1.0, 0.0}}}},
    };
    for (const auto& c : cases) {
        auto expected = c.expected;
        expected["startTime"] = {day0, day0 + 86'400};
        EXPECT_EQ(phone::widget::contentState(c.workout, 0), expected) << c.what;
    }
    // The rest the watch runs, started to the millisecond and perhaps corrected, wins over the
    // completion's whole second.
    auto counted = phone::widget::contentState(cases[1].workout, 0,
                                               phone::widget::RunningRest{day0 + 600.705, 75});
    EXPECT_EQ(counted["lastSetCompletedDate"], json({day0 + 600.705, day0 + 675.705}));
    EXPECT_EQ(counted["timerSeconds"], "75");
    EXPECT_EQ(phone::widget::activityId(cases[0].workout), "workout-w1");
    EXPECT_EQ(phone::widget::activityAttributes(cases[0].workout),
              json({{"workoutId", "w1"}, {"name", "Day A"}}));
}

TEST(WidgetContent, TheNextSetsLineSaysWhatTheLifterDoes) {
    auto timed = set("t1", "", "0", 45, {});
    timed.insert_or_assign("duration", 65);
    const std::pair<Dictionary, std::string> cases[] = {
        {set("s1", "5", "225", 90, {}), "5 x 225lb"},
        {set("s2", 8, 60.5, {}, {}), "8 x 60.5lb"},
        {set("s3", "12", "0", {}, {}), "12 reps"},
        {timed, "1:05"},
    };
    for (const auto& [first, info] : cases) {
        auto open = phone::widget::firstOpenSet(workoutWith({first}, {}));
        ASSERT_TRUE(open);
        EXPECT_EQ(open->info, info);
    }
}

TEST(SuiteFile, SettingAKeyReplacesTheWholeObjectAndKeepsTheOthers) {
    platform::testing::TempDirectory dir;
    const auto file = dir.path() / "group.tessaron.glanceside.json";
    // What cannot be read as an object counts as empty.
    std::ofstream(file) << "{\"nextWorkout\": tru";
    ASSERT_TRUE(phone::widget::writeSuiteKey(dir.path(), "group.tessaron.glanceside", "other", 7));
    const std::string next = R"({"title":"Day B","status":"Up Next","exercises":[]})";
    ASSERT_TRUE(
        phone::widget::writeSuiteKey(dir.path(), "group.tessaron.glanceside", "nextWorkout", next));

    std::ifstream in(file);
    auto object = json::parse(in);
    EXPECT_EQ(object, json({{"other", 7}, {"nextWorkout", next}}));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1)
        << "no temporary file is left behind";

    EXPECT_FALSE(phone::widget::writeSuiteKey(dir.path(), ".hidden", "k", 1));
    EXPECT_FALSE(phone::widget::writeSuiteKey(dir.path() / "missing", "standard", "k", 1));
    EXPECT_FALSE(phone::widget::readSuite(dir.path(), "bad/name"));
    EXPECT_EQ(phone::widget::readSuite(dir.path(), "standard"), json::object()) << "missing";
}

// The widget host's phone socket as the protocol describes it, recording each request line.
class FakeHost {
public:
    // Answers each request; by default {"reply":"ok"}.
    explicit FakeHost(
        std::filesystem::path path, std::function<json(const json&)> answer =
                                        [](const json&) {
                                            return json{{"reply", "ok"}};
                                        })
        : answer_(std::move(answer)) {
        listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
            ::listen(listener_, 4) != 0 || ::pipe(stop_) != 0) {
            throw std::runtime_error("cannot listen on " + path.string());
        }
        path_ = std::move(path);
        thread_ = std::thread([this] { run(); });
    }
    ~FakeHost() {
        [[maybe_unused]] auto written = ::write(stop_[1], "x", 1);
        thread_.join();
        ::close(listener_);
        ::close(stop_[0]);
        ::close(stop_[1]);
        std::filesystem::remove(path_);
    }
    std::vector<json> requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    std::vector<std::string> ops() const {
        std::vector<std::string> ops;
        for (const auto& request : requests()) {
            ops.push_back(request.value("op", ""));
        }
        return ops;
    }

private:
    void run() {
        std::vector<int> clients;
        std::map<int, std::string> pending;
        for (;;) {
            std::vector<pollfd> fds{{stop_[0], POLLIN, 0}, {listener_, POLLIN, 0}};
            for (int client : clients) {
                fds.push_back({client, POLLIN, 0});
            }
            ::poll(fds.data(), fds.size(), -1);
            if (fds[0].revents != 0) {
                break;
            }
            if (fds[1].revents != 0) {
                clients.push_back(::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC));
            }
            for (std::size_t i = 2; i < fds.size(); ++i) {
                if (fds[i].revents == 0) {
                    continue;
                }
                char buffer[4096];
                auto got = ::read(fds[i].fd, buffer, sizeof(buffer));
                if (got <= 0) {
                    ::close(fds[i].fd);
                    std::erase(clients, fds[i].fd);
                    continue;
                }
                auto& text = pending[fds[i].fd];
                text.append(buffer, static_cast<std::size_t>(got));
                for (auto end = text.find('\n'); end != std::string::npos; end = text.find('\n')) {
                    auto request = json::parse(text.substr(0, end), nullptr, false);
                    text.erase(0, end + 1);
                    {
                        std::lock_guard lock(mutex_);
                        requests_.push_back(request);
                    }
                    auto line = answer_(request).dump() + "\n";
                    [[maybe_unused]] auto sent = ::write(fds[i].fd, line.data(), line.size());
                }
            }
        }
        for (int client : clients) {
            ::close(client);
        }
    }

    std::filesystem::path path_;
    std::function<json(const json&)> answer_;
    int listener_ = -1;
    int stop_[2] = {-1, -1};
    std::thread thread_;
    mutable std::mutex mutex_;
    std::vector<json> requests_;
};

phone::widget::WidgetState runningState(json contentState) {
    return {"{}", phone::widget::WidgetState::Activity{
                      "workout-w1", {{"workoutId", "w1"}}, std::move(contentState)}};
}

// A host that restarted has forgotten the activity: the update it refuses becomes a start. A
// host that is away fails at once, and the same state goes when it is back.
TEST(WidgetPublisher, FollowsTheHostThroughAbsenceAndRestart) {
    platform::testing::TempDirectory dir;
    const auto socket = dir.path() / "host.sock";
    phone::widget::WidgetPublisher publisher(dir.path(), socket);

    auto away = publisher.apply(runningState({{"setId", "s1"}}));
    EXPECT_FALSE(away.reachedHost);
    ASSERT_EQ(away.lines.size(), 1u) << "one line per failed publish";
    {
        FakeHost host(socket);
        EXPECT_TRUE(publisher.apply(runningState({{"setId", "s1"}})).reachedHost);
        EXPECT_EQ(host.ops(),
                  (std::vector<std::string>{"reloadTimelines", "activities", "startActivity"}));
        EXPECT_TRUE(publisher.apply(runningState({{"setId", "s1"}})).lines.empty());
        EXPECT_EQ(host.requests().size(), 3u) << "an unchanged state sends nothing";
    }
    FakeHost restarted(socket, [](const json& request) {
        return request["op"] == "updateActivity"
                   ? json{{"reply", "error"}, {"message", "activity is not running"}}
                   : json{{"reply", "ok"}};
    });
    auto result = publisher.apply(runningState({{"setId", "s2"}}));
    EXPECT_TRUE(result.reachedHost);
    EXPECT_TRUE(result.lines.empty());
    auto requests = restarted.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0]["op"], "updateActivity");
    EXPECT_EQ(requests[1]["op"], "startActivity");
    EXPECT_EQ(requests[1]["contentState"], json({{"setId", "s2"}}));

    publisher.apply({"{}", std::nullopt});
    EXPECT_EQ(restarted.requests().back(),
              json({{"op", "endActivity"}, {"activityId", "workout-w1"}}));
}

// phone-sim restarted while the host ran on: its activity is updated, not started again, and one
// whose workout ended meanwhile is ended.
TEST(WidgetPublisher, AfterARestartAdoptsItsActivityAndEndsAStaleOne) {
    platform::testing::TempDirectory dir;
    const auto socket = dir.path() / "host.sock";
    FakeHost host(socket, [](const json& request) {
        if (request["op"] != "activities") {
            return json{{"reply", "ok"}};
        }
        return json{{"reply", "activities"},
                    {"activities",
                     {{{"activityId", "workout-w0"}, {"attributes", {}}, {"contentState", {}}},
                      {{"activityId", "workout-w1"},
                       {"attributes", {{"workoutId", "w1"}}},
                       {"contentState", {{"setId", "s1"}}}}}}};
    });
    phone::widget::WidgetPublisher publisher(dir.path(), socket);
    EXPECT_TRUE(publisher.apply(runningState({{"setId", "s2"}})).lines.empty());
    auto requests = host.requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[2], json({{"op", "endActivity"}, {"activityId", "workout-w0"}}));
    EXPECT_EQ(requests[3]["op"], "updateActivity");
    EXPECT_EQ(requests[3]["contentState"], json({{"setId", "s2"}}));
}

class WidgetsOnLink : public ::testing::Test {
protected:
    platform::ManualExecutor executor;
    platform::MemoryLog log;
    platform::testing::TempDirectory dir;
    platform::testing::TempDirectory appGroup;
    platform::testing::TempDirectory widgetData;
    platform::SimulatedLink link{executor, platform::LinkFaults{}, 7};
    platform::MemoryKeyValueStore watchStore;
    platform::MemoryFileSystem watchFiles;
    linktest::RecordingDelegate watchEnd{executor.main()};
    platform::SessionEngine watch{platform::LinkRole::watch,
                                  link.attach(platform::LinkRole::watch),
                                  {executor, watchStore, watchFiles, log}};
    std::optional<simsupport::PhoneSide> phone;
    std::unique_ptr<phone::PhoneWidgets> widgets;

    void SetUp() override {
        watch.setDelegate(&watchEnd);
        watch.activate();
        startPhone();
        executor.advanceBy(1s);
        ASSERT_TRUE(watch.isReachable());
        // Started on the watch, so that the phone's logbook keeps it across a restart.
        watch.sendMessage({{"type", "start_workout"},
                           {"syncId", "START-1"},
                           {"payload", Dictionary{{"id", "wk1-day-a"},
                                                  {"workoutId", "wk1-day-a"},
                                                  {"occurredAt", day0UnixMs}}}},
                          std::nullopt, [](platform::SessionError) {});
        executor.advanceBy(1s);
    }

    void startPhone() {
        widgets.reset();
        phone.reset();
        phone.emplace(executor, link, log, dir.path());
        widgets = std::make_unique<phone::PhoneWidgets>(
            executor, log, *phone->app,
            phone::PhoneWidgetsOptions{appGroup.path(), widgetData.path(), std::nullopt});
        widgets->start();
    }

    void writeStandard(const std::string& text) {
        std::ofstream(widgetData.path() / "standard.json", std::ios::trunc) << text;
    }

    std::string status(std::string_view setId) const {
        const auto* set = phone->app->feed().findSet(setId);
        return set != nullptr ? *set->find("status")->second.string() : "";
    }

    std::string publishedSetId() const {
        const auto& published = widgets->published();
        return published && published->activity
                   ? published->activity->contentState.value("setId", "")
                   : "(no activity)";
    }
};

TEST_F(WidgetsOnLink, ATapCompletesTheShownSetOnceStartsItsRestAndTellsTheWatch) {
    ASSERT_EQ(publishedSetId(), "set-0001");
    std::ifstream suite(appGroup.path() / "group.tessaron.glanceside.json");
    auto next = json::parse(json::parse(suite)["nextWorkout"].get<std::string>());
    EXPECT_EQ(next["title"], "Day A: Squat & Bench");
    EXPECT_EQ(next["status"], "In Progress");

    const auto before = phone->app->logbookEntries().size();
    writeStandard(R"({"exercise_set_completed":"TAP-1"})");
    executor.advanceBy(300ms);

    EXPECT_EQ(status("set-0001"), "COMPLETE");
    EXPECT_EQ(status("set-0002"), "NOT_STARTED");
    const auto& timer = phone->app->timer();
    EXPECT_TRUE(timer.running);
    EXPECT_EQ(timer.seconds, 60) << "set-0001's rest";
    EXPECT_EQ(timer.setCompletedIds, std::vector<std::string>{"set-0001"});
    EXPECT_TRUE(log.contains("Complete Set from the lock screen: Back Squat set 1"));
    EXPECT_EQ(publishedSetId(), "set-0002");
    EXPECT_EQ(widgets->published()->activity->contentState["timerSeconds"], "60");
    EXPECT_EQ(phone->app->logbookEntries().size(), before + 1);
    EXPECT_TRUE(phone->app->recorded("lock-screen-TAP-1"));
    // The watch hears the set and the rest in one state.
    const auto& last = watchEnd.messages.back();
    ASSERT_TRUE(last.contains("restTimerData")) << platform::Value(last);
    EXPECT_EQ(*last.at("restTimerData").find("timerIsRunning"), platform::Value(true));

    // The same value again, or after a restart, completes nothing.
    executor.advanceBy(1s);
    startPhone();
    executor.advanceBy(1s);
    EXPECT_EQ(status("set-0001"), "COMPLETE") << "the logbook's completion is applied again";
    EXPECT_EQ(status("set-0002"), "NOT_STARTED");
    EXPECT_EQ(phone->app->logbookEntries().size(), before + 1);
    EXPECT_EQ(publishedSetId(), "set-0002");

    // A new tap completes the next set.
    writeStandard(R"({"exercise_set_completed":"TAP-2"})");
    executor.advanceBy(300ms);
    EXPECT_EQ(status("set-0002"), "COMPLETE");
    EXPECT_EQ(status("set-0003"), "NOT_STARTED");
}

TEST_F(WidgetsOnLink, AStandardStoreWithoutAFreshStringValueDoesNothing) {
    const auto workout = phone->app->feed().workout();
    const auto entries = phone->app->logbookEntries().size();
    for (const auto* text :
         {"", "not json", R"(["TAP"])", R"({"exercise_set_completed":7})", R"({"other":"TAP"})"}) {
        writeStandard(text);
        executor.advanceBy(300ms);
    }
    std::filesystem::remove(widgetData.path() / "standard.json");
    std::filesystem::create_directory(widgetData.path() / "standard.json");
    executor.advanceBy(300ms);
    EXPECT_EQ(phone->app->feed().workout(), workout);
    EXPECT_EQ(phone->app->logbookEntries().size(), entries);
}

} // namespace

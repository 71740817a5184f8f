// The phone's lock screen, the phone and the watch as three programs: "Complete Set" tapped on
// the lock screen of glanceside-host completes the set on the watch and in phone-sim's logbook,
// once, and the two rests agree.
#include "app/process_support.hpp"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>

#include <cmath>
#include <cstdlib>
#include <iostream>

namespace {

using processtest::Child;
using processtest::readFile;
using processtest::Value;

// Seconds between 1970-01-01 and 2001-01-01, the origin of the plug-in's dates.
constexpr double referenceDateOffset = 978307200.0;

// One request on the host's phone socket, and its answer.
std::optional<Value> askHost(const processtest::Path& socketPath, const std::string& request) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return std::nullopt;
    }
    auto line = request + "\n";
    std::string answer;
    if (::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size())) {
        char buffer[4096];
        for (ssize_t n; answer.find('\n') == std::string::npos &&
                        (n = ::read(fd, buffer, sizeof buffer)) > 0;) {
            answer.append(buffer, static_cast<std::size_t>(n));
        }
    }
    ::close(fd);
    return platform::parseJson(answer.substr(0, answer.find('\n')));
}

// A JSON number, integral or not; NaN for anything else.
double number(const Value* value) {
    if (value != nullptr && value->integer() != nullptr) {
        return static_cast<double>(*value->integer());
    }
    return value != nullptr && value->real() != nullptr ? *value->real() : std::nan("");
}

class LockScreen : public processtest::Programs {
protected:
    processtest::Path appGroup = dir.path() / "app-group";
    processtest::Path widgetData = dir.path() / "widget-data";
    processtest::Path hostSocket = dir.path() / "host.sock";
    processtest::Path hostOut = dir.path() / "host.log";
    std::optional<Child> host;

    void SetUp() override { ::setenv("QT_QPA_PLATFORM", "offscreen", 1); }

    void startAll() {
        host.emplace(std::vector<std::string>{GLANCESIDE_HOST, "--plugin", GLANCESIDE_PLUGIN,
                                              "--app-group", appGroup.string(), "--data-dir",
                                              widgetData.string(), "--phone-socket",
                                              hostSocket.string(), "--control", "stdin"},
                     hostOut);
        ASSERT_TRUE(processtest::waitFor(hostOut, "Listening for the phone")) << readFile(hostOut);
        phone.emplace(std::vector<std::string>{PHONE_SIM, "--link", link, "--data-dir",
                                               phoneData.string(), "--app-group", appGroup.string(),
                                               "--widget-data", widgetData.string(),
                                               "--widget-host", hostSocket.string()},
                      phoneOut);
        waitForPhone("session activated", ++phoneRuns);
        startWatch();
        waitForPhone("watch connected");
    }

    // The host's answer to a control line.
    Value askControl(const std::string& request) {
        const auto from = readFile(hostOut).size();
        host->write(request);
        for (int i = 0; i < 1000; std::this_thread::sleep_for(std::chrono::milliseconds(10)), ++i) {
            auto text = readFile(hostOut);
            auto at = text.find(R"({"reply":)", from);
            if (auto end = text.find('\n', at);
                at != std::string::npos && end != std::string::npos) {
                if (auto value = platform::parseJson(text.substr(at, end - at))) {
                    return *value;
                }
            }
        }
        ADD_FAILURE() << "no answer to " << request << " in:\n" << readFile(hostOut);
        return Value();
    }

    // The texts of the lock screen once `holds` is true of them.
    std::vector<std::string> lockScreenWhere(const std::function<bool(const std::string&)>& holds) {
        std::vector<std::string> texts;
        for (int i = 0; i < 200; std::this_thread::sleep_for(std::chrono::milliseconds(50)), ++i) {
            texts.clear();
            auto screen = askControl(R"({"action":"screen"})");
            if (const auto* lock = screen.find("lockScreen"); lock && lock->array()) {
                std::string joined;
                for (const auto& text : *lock->array()) {
                    texts.push_back(*text.string());
                    joined += *text.string() + "|";
                }
                if (holds(joined)) {
                    return texts;
                }
            }
        }
        ADD_FAILURE() << "the lock screen never got there; it showed "
                      << testing::PrintToString(texts);
        return texts;
    }

    void TearDown() override {
        if (!HasFailure()) {
            EXPECT_EQ(host->quit(R"({"action":"quit"})"), 0) << readFile(hostOut);
        } else {
            std::cout << "phone-sim's output:\n"
                      << readFile(phoneOut) << "\nthe host's:\n"
                      << readFile(hostOut) << "\n";
        }
        processtest::Programs::TearDown();
    }
};

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

std::vector<std::string> completeSetIds(const Value& state) {
    std::vector<std::string> ids;
    for (const auto& exercise : *state.find("exercises")->array()) {
        for (const auto& set : *exercise.find("exerciseSets")->array()) {
            if (*set.find("status") == Value("COMPLETE")) {
                ids.push_back(*set.find("id")->string());
            }
        }
    }
    return ids;
}

TEST_F(LockScreen, CompleteSetOnTheLockScreenCompletesTheSetOnceOnTheWatchWithTheSameRest) {
    startAll();
    ASSERT_TRUE(watch->stateWhere(
        [](const Value& s) { return !s.find("availableWorkouts")->array()->empty(); }));
    watch->write(R"({"action":"startWorkout","workoutId":"wk1-day-a"})");
    waitForPhone("the watch started workout wk1-day-a");
    lockScreenWhere([](const std::string& t) { return t.find(" x ") != t.npos; });
    ASSERT_FALSE(HasFailure());
    auto started = watch->stateWhere([](const Value& s) { return completeSetIds(s).empty(); });
    ASSERT_TRUE(started);

    EXPECT_EQ(askControl(R"({"action":"tapCompleteSet"})"),
              *platform::parseJson(R"({"reply":"ok"})"));

    // The watch has the set done and rests after it, over the range the lock screen counts.
    auto done = watch->stateWhere([](const Value& s) {
        return completeSetIds(s).size() == 1 &&
               *s.find("timer")->find("timerIsRunning") == Value(true);
    });
    ASSERT_TRUE(done);
    auto activities = askHost(hostSocket, R"({"op":"activities"})");
    ASSERT_TRUE(activities);
    const auto& list = *activities->find("activities")->array();
    ASSERT_EQ(list.size(), 1u) << platform::toJsonText(*activities);
    const auto* state = list[0].find("contentState");
    const auto* rest = state->find("lastSetCompletedDate");
    ASSERT_TRUE(rest && rest->array()) << platform::toJsonText(*activities);
    const auto& timer = *done->find("timer");
    const auto& range = *rest->array();
    ASSERT_EQ(range.size(), 2u);
    EXPECT_NEAR(number(&range[0]), number(timer.find("startTime")) / 1000 - referenceDateOffset,
                0.001);
    EXPECT_NEAR(number(&range[1]) - number(&range[0]), number(timer.find("timerSeconds")), 0.001);
    EXPECT_NE(*state->find("setId"), Value(completeSetIds(*done)[0]));
    lockScreenWhere([](const std::string& t) { return t.find("Rest ") != t.npos; });

    // A second look later finds nothing more: one tap, one set, one logbook entry.
    phone->write("logbook");
    waitForPhone("lock-screen-");
    std::this_thread::sleep_for(std::chrono::seconds(1));
    auto after = watch->state();
    ASSERT_TRUE(after);
    EXPECT_EQ(completeSetIds(*after), completeSetIds(*done));
    EXPECT_EQ(occurrences(readFile(phoneOut), "Complete Set from the lock screen"), 1u)
        << readFile(phoneOut);
    EXPECT_EQ(occurrences(readFile(phoneOut), "received complete_set"), 0u) << readFile(phoneOut);
}

} // namespace

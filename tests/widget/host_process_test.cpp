// glanceside-host as the phone program and the tests see it: its phone socket and its control
// channel, offscreen.

#include "platform/files/temp_directory.hpp"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

using platform::testing::TempDirectory;

class HostProcess : public ::testing::Test {
protected:
    TempDirectory dir;
    QProcess host;
    QLocalSocket phone;
    // Standard output not yet read as an answer, and all of it.
    QByteArray log;
    QByteArray seen;

    void SetUp() override {
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.insert("XDG_RUNTIME_DIR", QString::fromStdString(dir.path().string()));
        host.setProcessEnvironment(environment);
        TempDirectory::writeText(dir.path() / "group.tessaron.glanceside.json",
                                 workout("Week 1 - Day 2"));
    }
    void TearDown() override {
        if (host.state() != QProcess::NotRunning) {
            host.closeWriteChannel();
            EXPECT_TRUE(host.waitForFinished(10000));
            EXPECT_EQ(host.exitCode(), 0) << host.readAllStandardError().toStdString();
        }
    }

    static std::string workout(const std::string& title) {
        return R"({"nextWorkout":"{\"title\":\")" + title +
               R"(\",\"status\":\"Up Next\",\"exercises\":[{\"id\":\"1\",\"name\":\"Squat\"}]}"})";
    }

    QStringList arguments(const QString& systemVersion = "17.0") {
        return {"--app-group",      QString::fromStdString(dir.path().string()),
                "--data-dir",       QString::fromStdString(dir.path().string()),
                "--phone-socket",   socketPath(),
                "--control",        "stdin",
                "--system-version", systemVersion};
    }
    QString socketPath() { return QString::fromStdString((dir.path() / "host.sock").string()); }

    void start(const QString& systemVersion = "17.0") {
        host.start(GLANCESIDE_HOST, arguments(systemVersion));
        ASSERT_TRUE(host.waitForStarted());
        ASSERT_TRUE(waitForLog("Listening for the phone")) << log.toStdString();
        phone.connectToServer(socketPath());
        ASSERT_TRUE(phone.waitForConnected(5000));
    }

    void read() {
        const auto bytes = host.readAllStandardOutput();
        log += bytes;
        seen += bytes;
    }

    bool waitForLog(const QByteArray& text) {
        while (!log.contains(text)) {
            if (!host.waitForReadyRead(10000)) {
                return false;
            }
            read();
        }
        return true;
    }

    // The control channel's answer to one line.
    QJsonObject control(const QByteArray& line) {
        host.write(line + '\n');
        while (true) {
            const auto at = log.indexOf("{\"reply\":");
            const auto end = at >= 0 ? log.indexOf('\n', at) : -1;
            if (end >= 0) {
                const auto reply = log.mid(at, end - at);
                log.remove(0, end + 1);
                return QJsonDocument::fromJson(reply).object();
            }
            if (!host.waitForReadyRead(10000)) {
                ADD_FAILURE() << "no answer to " << line.toStdString()
                              << "; log: " << log.toStdString();
                return {};
            }
            read();
        }
    }
    QJsonObject screen() { return control(R"({"action":"screen"})"); }

    // The phone socket's answer line to one request.
    QByteArray request(const QByteArray& line) {
        phone.write(line + '\n');
        phone.flush();
        QByteArray answer;
        while (!answer.contains('\n')) {
            if (!phone.waitForReadyRead(10000)) {
                ADD_FAILURE() << "no answer to " << line.left(200).toStdString();
                return {};
            }
            answer += phone.readAll();
        }
        return answer.trimmed();
    }

    static QByteArray state(const char* nextSetName, const char* rest = "") {
        return QByteArray(R"({"nextSetName":")") + nextSetName +
               R"(","nextSetInfo":"5 x 225lb","percentageComplete":[0.4,0,0],)" + rest +
               R"("setId":"squat-3","timerSeconds":"90","startTime":[786844200,786930600]})";
    }
};

const QByteArray ok = R"({"reply":"ok"})";
const QByteArray attributes = R"({"workoutId":"day-a","name":"Day A"})";

TEST_F(HostProcess, PhoneSocketStartsUpdatesAndEndsActivitiesAndRefusedRequestsChangeNothing) {
    start();
    ASSERT_TRUE(log.contains("Timeline reloaded: Week 1 - Day 2")) << log.toStdString();
    EXPECT_EQ(screen()["lockScreen"], QJsonValue::Null);

    EXPECT_EQ(request(R"({"op":"startActivity","activityId":"workout-day-a","attributes":)" +
                      attributes + R"(,"contentState":)" + state("Back Squat") + "}"),
              ok);
    const auto running = request(R"({"op":"activities"})");
    EXPECT_TRUE(
        running.startsWith(R"({"reply":"activities","activities":[{"activityId":"workout-day-a")"))
        << running.toStdString();

    const QByteArray refused[] = {
        R"({"op":"startActivity","activityId":"workout-day-a","attributes":)" + attributes +
            R"(,"contentState":)" + state("Again") + "}",
        R"({"op":"startActivity","activityId":"other","attributes":{"workoutId":"x"},"contentState":)" +
            state("Bench") + "}",
        R"({"op":"startActivity","activityId":"other","attributes":)" + attributes +
            R"(,"contentState":{"nextSetName":"Bench"}})",
        R"({"op":"startActivity","activityId":"","attributes":)" + attributes +
            R"(,"contentState":)" + state("Bench") + "}",
        R"({"op":"updateActivity","activityId":"absent","contentState":)" + state("Bench") + "}",
        R"({"op":"updateActivity","activityId":"workout-day-a","contentState":[1]})",
        R"({"op":"endActivity","activityId":"absent"})",
        R"({"op":"dance"})",
        R"([{"op":"activities"}])",
        "\xff\xfe{{\x00\x01 not json",
        QByteArray(1 << 21, 'x'),
    };
    for (const auto& line : refused) {
        const auto answer = request(line);
        EXPECT_TRUE(answer.startsWith(R"({"reply":"error","message":)")) << answer.toStdString();
    }
    EXPECT_EQ(request(R"({"op":"activities"})"), running);

    EXPECT_EQ(request(R"({"op":"updateActivity","activityId":"workout-day-a","contentState":)" +
                      state("Bench Press", R"("lastSetCompletedDate":[786844800,786844890],)") +
                      "}"),
              ok);
    auto shown = screen();
    EXPECT_EQ(shown["activities"].toInt(), 1);
    const auto lockScreen = shown["lockScreen"].toArray().toVariantList();
    EXPECT_TRUE(lockScreen.contains("Bench Press")) << QJsonDocument(shown).toJson().toStdString();
    // That rest ended long ago.
    EXPECT_TRUE(lockScreen.contains("Rest 00:00"));
    EXPECT_EQ(shown["dynamicIsland"].toObject()["compactTrailing"].toArray(), QJsonArray{"00:00"});

    // The phone rewrites the next workout and asks for a reload.
    TempDirectory::writeText(dir.path() / "group.tessaron.glanceside.json", workout("Day 3"));
    EXPECT_EQ(request(R"({"op":"reloadTimelines"})"), ok);
    EXPECT_TRUE(screen()["home"].toObject()["systemSmall"].toArray().contains("Day 3"));
    // A workout that does not decode delivers nothing: the widget keeps what it showed.
    TempDirectory::writeText(dir.path() / "group.tessaron.glanceside.json",
                             R"({"nextWorkout":"{\"title\":\"Broken\"}"})");
    EXPECT_EQ(request(R"({"op":"reloadTimelines"})"), ok);
    EXPECT_TRUE(screen()["home"].toObject()["systemSmall"].toArray().contains("Day 3"));
    EXPECT_TRUE(seen.contains("Timeline delivered nothing; still showing: Day 3"));

    EXPECT_EQ(request(R"({"op":"endActivity","activityId":"workout-day-a"})"), ok);
    EXPECT_EQ(request(R"({"op":"endActivity","activityId":"workout-day-a"})").left(26),
              R"({"reply":"error","message")");
    shown = screen();
    EXPECT_EQ(shown["lockScreen"], QJsonValue::Null);
    EXPECT_EQ(shown["dynamicIsland"], QJsonValue::Null);
    EXPECT_EQ(shown["activities"].toInt(), 0);
}

TEST_F(HostProcess, CompleteSetPressesTheLockScreenButtonAndSignalsThePhone) {
    start();
    EXPECT_EQ(control(R"({"action":"tapCompleteSet"})")["reply"], "error");
    ASSERT_EQ(request(R"({"op":"startActivity","activityId":"a","attributes":)" + attributes +
                      R"(,"contentState":)" + state("Back Squat") + "}"),
              ok);

    const auto standard = dir.path() / "standard.json";
    const QRegularExpression uuid(
        R"(^\{"exercise_set_completed":"[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}"\}\s*$)");
    QString first;
    for (int tap = 0; tap < 2; ++tap) {
        EXPECT_EQ(control(R"({"action":"tapCompleteSet"})"), (QJsonObject{{"reply", "ok"}}));
        const auto stored = QString::fromStdString(TempDirectory::readText(standard));
        EXPECT_TRUE(uuid.match(stored).hasMatch()) << stored.toStdString();
        EXPECT_NE(stored, first);
        first = stored;
    }
    EXPECT_EQ(seen.count("Complete Set: ran the intent"), 2);
    EXPECT_TRUE(screen()["lockScreen"].toArray().contains("Next set..."));
    EXPECT_TRUE(request(R"({"op":"activities"})").contains(R"("nextSetInfo":"Next set...")"));
}

TEST_F(HostProcess, APluginThatDoesNotLoadIsReportedWithTheLoadersReason) {
    host.start(GLANCESIDE_HOST, arguments() << "--plugin"
                                            << "/absent/glanceside.so");
    ASSERT_TRUE(host.waitForFinished(10000));
    EXPECT_EQ(host.exitCode(), 1);
    EXPECT_EQ(host.readAllStandardError(),
              "glanceside-host: cannot load the plug-in: /absent/glanceside.so: cannot open "
              "shared object file: No such file or directory\n");
}

TEST_F(HostProcess, BeforeSystem16Point2ThereAreNoActivitiesToStart) {
    start("16.1");
    const auto answer = request(R"({"op":"startActivity","activityId":"a","attributes":)" +
                                attributes + R"(,"contentState":)" + state("Back Squat") + "}");
    EXPECT_TRUE(answer.startsWith(R"({"reply":"error")")) << answer.toStdString();
    EXPECT_EQ(screen()["activities"].toInt(), 0);
}

} // namespace

#pragma once

// glanceside-host: the phone system's widget host in small. It loads the plug-in, keeps the
// widget's timeline and the running live activities, draws them on its stage, listens for the
// phone program and answers a control channel.

#include "glanceside/plugin.hpp"
#include "widget/host/plugin_loader.hpp"
#include "widget/host/stage.hpp"

#include <QJsonObject>
#include <QLocalServer>
#include <QObject>
#include <QTimer>

#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace glanceside::host {

struct HostOptions {
    std::filesystem::path plugin;
    std::string systemVersion = "17.0";
    std::filesystem::path appGroupDirectory;
    std::filesystem::path dataDirectory;
    // Empty: no phone socket.
    std::filesystem::path phoneSocket;
    // A widget family the plug-in does not declare, drawn as well (empty: none).
    std::string extraFamily;
};

// One reply line, `{"reply":KIND, ...members}`: the reply comes first, whatever the members.
QByteArray replyLine(const QString& kind, const QJsonObject& members = {});
QByteArray errorLine(const QString& message);

class HostApp : public QObject {
    Q_OBJECT
public:
    // Writes each log and reply line (without its newline).
    using Output = std::function<void(const QByteArray& line)>;

    HostApp(HostOptions options, Output output);
    ~HostApp() override;

    // Loads the plug-in and the views, asks for the first timeline and opens the socket; false
    // with `error()` set when any of that failed.
    bool start();
    const QString& error() const { return error_; }

    // One control line; its reply goes to the output, later for an action that waits.
    void control(const QByteArray& line);
    // The control input ended: quit after the lines before.
    void endOfControl();
    // The phone socket's request handling, for one line; the reply line.
    QByteArray phoneRequest(const QByteArray& line);

    Stage& stage() { return *stage_; }
    void reloadTimelines();

signals:
    // `quit` or the end of the control input, once nothing runs any more.
    void quitRequested();

private:
    struct Running {
        std::string id;
        WorkoutActivityAttributes attributes;
        QJsonObject attributesJson;
        WorkoutActivityAttributes::ContentState state;
    };
    class WallClock;
    class Activities;

    void say(const QByteArray& line);
    void nextControl();
    void handleControl(const QByteArray& line);
    void show(const SimpleEntry& entry);
    void scheduleTimeline();
    void onTimelineTimer();
    void redrawActivity();
    void scheduleTick();
    void runIntent();
    void intentFinished();
    void acceptPhone();
    Running* running(const std::string& id);

    HostOptions options_;
    Output output_;
    QString error_;
    std::unique_ptr<WallClock> clock_;
    std::unique_ptr<Activities> liveActivities_;
    HostEnvironment environment_;
    std::optional<LoadedPlugin> plugin_;
    std::unique_ptr<Stage> stage_;
    QLocalServer server_;

    std::vector<SimpleEntry> entries_;
    SimpleEntry shown_;
    QTimer timelineTimer_;
    // The timer is set for the last entry's date, when a new timeline is due.
    bool reloadDue_ = false;
    QTimer tickTimer_;
    std::vector<Running> activities_;

    std::thread intent_;
    bool intentRunning_ = false;
    std::deque<QByteArray> pendingControl_;
    // A control action waits for the intent to finish before the next line is read.
    bool controlWaiting_ = false;
    bool quitting_ = false;
    bool controlEnded_ = false;
};

} // namespace glanceside::host

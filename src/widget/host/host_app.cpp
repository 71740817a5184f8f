#include "widget/host/host_app.hpp"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalSocket>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <variant>

namespace glanceside::host {
namespace {

// The phone socket's longest line.
constexpr qsizetype maxLineBytes = 1 << 20;
// A timeline whose end has already passed is not asked for again sooner than this, so that a
// plug-in dating its entries in the past cannot make the host spin.
constexpr double minimumReloadSeconds = 60;

QString text(const std::string& s) {
    return QString::fromStdString(s);
}

int millisecondsUntil(Date when, Date now, double atLeastSeconds = 0) {
    const double seconds =
        std::fmax(when.secondsSinceReferenceDate - now.secondsSinceReferenceDate, atLeastSeconds);
    if (std::isnan(seconds)) {
        return 0;
    }
    return static_cast<int>(std::fmin(std::ceil(seconds * 1000), INT_MAX));
}

} // namespace

QByteArray replyLine(const QString& kind, const QJsonObject& members) {
    QByteArray line =
        "{\"reply\":" +
        QJsonDocument(QJsonArray{kind}).toJson(QJsonDocument::Compact).mid(1).chopped(1);
    if (!members.isEmpty()) {
        line += ',' + QJsonDocument(members).toJson(QJsonDocument::Compact).mid(1).chopped(1);
    }
    return line + '}';
}

QByteArray errorLine(const QString& message) {
    return replyLine(QStringLiteral("error"), QJsonObject{{"message", message}});
}

class HostApp::WallClock final : public Clock {
public:
    Date now() override {
        const auto since = std::chrono::system_clock::now().time_since_epoch();
        return Date::fromUnixSeconds(std::chrono::duration<double>(since).count());
    }
    void sleep(std::chrono::nanoseconds duration) override {
        std::this_thread::sleep_for(duration);
    }
};

// The running activities as the plug-in's intent sees them. It runs on a worker thread, so every
// call hops to the GUI thread, which owns the activities, and returns once done there.
class HostApp::Activities final : public LiveActivities {
public:
    explicit Activities(HostApp& app) : app_(app) {}

    std::vector<std::string> runningActivityIds() override {
        std::vector<std::string> ids;
        onGui([&] {
            for (const auto& activity : app_.activities_) {
                ids.push_back(activity.id);
            }
        });
        return ids;
    }

    std::optional<WorkoutActivityAttributes::ContentState>
    contentState(const std::string& activityId) override {
        std::optional<WorkoutActivityAttributes::ContentState> state;
        onGui([&] {
            if (auto* activity = app_.running(activityId)) {
                state = activity->state;
            }
        });
        return state;
    }

    void update(const std::string& activityId,
                const WorkoutActivityAttributes::ContentState& state) override {
        onGui([&] {
            if (auto* activity = app_.running(activityId)) {
                activity->state = state;
                app_.say("Live activity updated: " + QByteArray::fromStdString(activityId));
                app_.redrawActivity();
            }
        });
    }

private:
    void onGui(const std::function<void()>& work) {
        if (QThread::currentThread() == app_.thread()) {
            work();
        } else {
            QMetaObject::invokeMethod(&app_, work, Qt::BlockingQueuedConnection);
        }
    }

    HostApp& app_;
};

HostApp::HostApp(HostOptions options, Output output)
    : options_(std::move(options)), output_(std::move(output)),
      clock_(std::make_unique<WallClock>()), liveActivities_(std::make_unique<Activities>(*this)) {
    timelineTimer_.setSingleShot(true);
    tickTimer_.setSingleShot(true);
    tickTimer_.setTimerType(Qt::PreciseTimer);
    connect(&timelineTimer_, &QTimer::timeout, this, &HostApp::onTimelineTimer);
    connect(&tickTimer_, &QTimer::timeout, this, [this] {
        stage_->tick(clock_->now());
        scheduleTick();
    });
    connect(&server_, &QLocalServer::newConnection, this, &HostApp::acceptPhone);
}

HostApp::~HostApp() {
    // The intent may be waiting for this thread to apply its update.
    while (intentRunning_) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    if (intent_.joinable()) {
        intent_.join();
    }
    server_.close();
    stage_.reset();
}

bool HostApp::start() {
    environment_.systemVersion = options_.systemVersion;
    environment_.appGroupDirectory = options_.appGroupDirectory;
    environment_.dataDirectory = options_.dataDirectory;
    environment_.clock = clock_.get();
    environment_.liveActivities = liveActivities_.get();
    auto loaded = LoadedPlugin::load(options_.plugin, environment_);
    if (auto* failure = std::get_if<LoadError>(&loaded)) {
        error_ = QStringLiteral("cannot load the plug-in: ") + text(failure->reason);
        return false;
    }
    plugin_.emplace(std::move(std::get<LoadedPlugin>(loaded)));

    stage_ = std::make_unique<Stage>(plugin_->bundle().viewsDirectory());
    if (!stage_->error().isEmpty()) {
        error_ = stage_->error();
        return false;
    }
    connect(stage_.get(), &Stage::completeSetRequested, this, &HostApp::runIntent);
    stage_->setExtraFamily(text(options_.extraFamily));
    show(plugin_->bundle().workoutProvider().placeholder());
    redrawActivity();
    reloadTimelines();

    if (!options_.phoneSocket.empty()) {
        const auto path = text(options_.phoneSocket.string());
        QLocalServer::removeServer(path);
        if (!server_.listen(path)) {
            error_ = QStringLiteral("cannot listen on %1: %2").arg(path, server_.errorString());
            return false;
        }
        say("Listening for the phone on " + path.toUtf8());
    }
    return true;
}

void HostApp::say(const QByteArray& line) {
    output_(line);
}

// ---- The widget's timeline ----

void HostApp::show(const SimpleEntry& entry) {
    shown_ = entry;
    stage_->showEntry(entry);
}

void HostApp::reloadTimelines() {
    auto timeline = plugin_->bundle().workoutProvider().timeline(ConfigurationIntent{});
    if (!timeline || timeline->entries.empty()) {
        say("Timeline delivered nothing; still showing: " +
            QByteArray::fromStdString(shown_.title));
        return;
    }
    entries_ = std::move(timeline->entries);
    // A fresh timeline: its own end decides the next reload.
    reloadDue_ = false;
    std::stable_sort(entries_.begin(), entries_.end(),
                     [](const SimpleEntry& a, const SimpleEntry& b) { return a.date < b.date; });
    onTimelineTimer();
    say("Timeline reloaded: " + QByteArray::fromStdString(shown_.title));
}

void HostApp::onTimelineTimer() {
    if (entries_.empty()) {
        return;
    }
    const Date now = clock_->now();
    // The newest entry whose date has come, or the first while none has.
    auto current = entries_.begin();
    for (auto it = entries_.begin(); it != entries_.end() && it->date <= now; ++it) {
        current = it;
    }
    if (entries_.back().date <= now && reloadDue_) {
        reloadDue_ = false;
        reloadTimelines();
        return;
    }
    if (!(*current == shown_)) {
        show(*current);
    }
    scheduleTimeline();
}

void HostApp::scheduleTimeline() {
    const Date now = clock_->now();
    const Date last = entries_.back().date;
    auto next = std::find_if(entries_.begin(), entries_.end(),
                             [&](const SimpleEntry& e) { return now < e.date; });
    if (next != entries_.end() && next->date < last) {
        reloadDue_ = false;
        timelineTimer_.start(millisecondsUntil(next->date, now));
    } else {
        // At-end policy: a new timeline once the last entry's date has passed.
        reloadDue_ = true;
        timelineTimer_.start(now < last ? millisecondsUntil(last, now)
                                        : millisecondsUntil(now, now, minimumReloadSeconds));
    }
}

// ---- Live activities ----

HostApp::Running* HostApp::running(const std::string& id) {
    auto it = std::find_if(activities_.begin(), activities_.end(),
                           [&](const Running& r) { return r.id == id; });
    return it != activities_.end() ? &*it : nullptr;
}

void HostApp::redrawActivity() {
    if (activities_.empty()) {
        tickTimer_.stop();
        stage_->showActivity(std::nullopt, clock_->now());
        return;
    }
    const auto& first = activities_.front();
    ShownActivity shown{first.attributes.name, first.state, {}, intentRunning_};
    auto* configuration = plugin_->bundle().liveActivity();
    if (configuration != nullptr && first.state.lastSetCompletedDate) {
        shown.measuringText = configuration->measuringText(*first.state.lastSetCompletedDate);
    }
    stage_->showActivity(shown, clock_->now());
    scheduleTick();
}

void HostApp::scheduleTick() {
    if (activities_.empty()) {
        return;
    }
    // Just after the next whole second, when the timer texts change.
    const double seconds = clock_->now().secondsSinceReferenceDate;
    const double fraction = seconds - std::floor(seconds);
    tickTimer_.start(static_cast<int>((1.0 - fraction) * 1000) + 2);
}

QByteArray HostApp::phoneRequest(const QByteArray& line) {
    QJsonParseError parseError{};
    const auto document = QJsonDocument::fromJson(line, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        return errorLine(QStringLiteral("not a JSON object"));
    }
    const auto request = document.object();
    const auto op = request.value("op");
    if (!op.isString()) {
        return errorLine(QStringLiteral("\"op\" is missing or not a string"));
    }
    const auto name = op.toString();
    if (name == QLatin1String("reloadTimelines")) {
        reloadTimelines();
        return replyLine("ok");
    }
    auto* configuration = plugin_->bundle().liveActivity();
    if (name == QLatin1String("activities")) {
        QJsonArray list;
        for (const auto& activity : activities_) {
            QJsonObject state;
            if (configuration != nullptr) {
                state =
                    QJsonDocument::fromJson(QByteArray::fromStdString(
                                                configuration->encodeContentState(activity.state)))
                        .object();
            }
            list.append(QJsonObject{{"activityId", text(activity.id)},
                                    {"attributes", activity.attributesJson},
                                    {"contentState", state}});
        }
        return replyLine("activities", QJsonObject{{"activities", list}});
    }
    if (name != QLatin1String("startActivity") && name != QLatin1String("updateActivity") &&
        name != QLatin1String("endActivity")) {
        return errorLine(QStringLiteral("unknown op \"%1\"").arg(name));
    }
    if (configuration == nullptr) {
        return errorLine(QStringLiteral("the plug-in offers no live activities on system %1")
                             .arg(text(options_.systemVersion)));
    }
    const auto idValue = request.value("activityId");
    if (!idValue.isString() || idValue.toString().isEmpty()) {
        return errorLine(QStringLiteral("\"activityId\" must be a non-empty string"));
    }
    const std::string id = idValue.toString().toStdString();
    auto decodeState = [&]() -> std::optional<WorkoutActivityAttributes::ContentState> {
        const auto value = request.value("contentState");
        if (!value.isObject()) {
            return std::nullopt;
        }
        const auto json = QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact);
        return configuration->decodeContentState(std::string_view(json.constData(), json.size()));
    };

    if (name == QLatin1String("startActivity")) {
        if (running(id) != nullptr) {
            return errorLine(QStringLiteral("activity %1 is already running").arg(text(id)));
        }
        const auto attributesValue = request.value("attributes");
        std::optional<WorkoutActivityAttributes> attributes;
        if (attributesValue.isObject()) {
            const auto json =
                QJsonDocument(attributesValue.toObject()).toJson(QJsonDocument::Compact);
            attributes =
                configuration->decodeAttributes(std::string_view(json.constData(), json.size()));
        }
        if (!attributes) {
            return errorLine(QStringLiteral("the attributes do not decode"));
        }
        auto state = decodeState();
        if (!state) {
            return errorLine(QStringLiteral("the content state does not decode"));
        }
        activities_.push_back({id, *attributes, attributesValue.toObject(), *state});
        say("Live activity started: " + QByteArray::fromStdString(id));
    } else if (name == QLatin1String("updateActivity")) {
        auto* activity = running(id);
        if (activity == nullptr) {
            return errorLine(QStringLiteral("activity %1 is not running").arg(text(id)));
        }
        auto state = decodeState();
        if (!state) {
            return errorLine(QStringLiteral("the content state does not decode"));
        }
        activity->state = *state;
        say("Live activity updated: " + QByteArray::fromStdString(id));
    } else {
        auto* activity = running(id);
        if (activity == nullptr) {
            return errorLine(QStringLiteral("activity %1 is not running").arg(text(id)));
        }
        activities_.erase(activities_.begin() + (activity - activities_.data()));
        say("Live activity ended: " + QByteArray::fromStdString(id));
    }
    redrawActivity();
    return replyLine("ok");
}

void HostApp::acceptPhone() {
    while (auto* socket = server_.nextPendingConnection()) {
        struct Reading {
            QByteArray buffer;
            // The rest of an overlong line is dropped up to its newline.
            bool skipping = false;
        };
        auto reading = std::make_shared<Reading>();
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket, reading] {
            reading->buffer += socket->readAll();
            qsizetype end;
            while ((end = reading->buffer.indexOf('\n')) >= 0) {
                const QByteArray line = reading->buffer.left(end);
                reading->buffer.remove(0, end + 1);
                if (reading->skipping) {
                    reading->skipping = false;
                    continue;
                }
                socket->write(phoneRequest(line) + '\n');
            }
            if (reading->buffer.size() > maxLineBytes) {
                reading->buffer.clear();
                if (!reading->skipping) {
                    reading->skipping = true;
                    socket->write(errorLine(QStringLiteral("a line longer than 1 MiB")) + '\n');
                }
            }
        });
    }
}

// ---- "Complete Set" ----

void HostApp::runIntent() {
    if (intentRunning_) {
        return;
    }
    intentRunning_ = true;
    redrawActivity();
    // The intent sleeps; the window and both channels stay live meanwhile.
    intent_ = std::thread([this] {
        plugin_->bundle().markSetCompleted().perform();
        QMetaObject::invokeMethod(
            this, [this] { intentFinished(); }, Qt::QueuedConnection);
    });
}

void HostApp::intentFinished() {
    intent_.join();
    intentRunning_ = false;
    say("Complete Set: ran the intent");
    redrawActivity();
    if (controlWaiting_) {
        controlWaiting_ = false;
        if (quitting_) {
            emit quitRequested();
            return;
        }
        say(replyLine("ok"));
        nextControl();
    }
}

// ---- The control channel ----

void HostApp::control(const QByteArray& line) {
    pendingControl_.push_back(line);
    nextControl();
}

void HostApp::nextControl() {
    while (!controlWaiting_ && !quitting_ && !pendingControl_.empty()) {
        const QByteArray line = pendingControl_.front();
        pendingControl_.pop_front();
        handleControl(line);
    }
    // The end of the input quits once every line before it has been answered.
    if (controlEnded_ && !controlWaiting_ && !quitting_ && pendingControl_.empty()) {
        quitting_ = true;
        if (intentRunning_) {
            controlWaiting_ = true;
        } else {
            emit quitRequested();
        }
    }
}

void HostApp::handleControl(const QByteArray& line) {
    if (line.trimmed().isEmpty()) {
        return;
    }
    QJsonParseError parseError{};
    const auto document = QJsonDocument::fromJson(line, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        say(errorLine(QStringLiteral("not a JSON object")));
        return;
    }
    const auto request = document.object();
    const auto action = request.value("action").toString();
    if (action == QLatin1String("quit")) {
        say(replyLine("ok"));
        quitting_ = true;
        if (intentRunning_) {
            controlWaiting_ = true;
        } else {
            emit quitRequested();
        }
    } else if (action == QLatin1String("screen")) {
        auto members = stage_->screen();
        members.insert("activities", static_cast<int>(activities_.size()));
        say(replyLine("screen", members));
    } else if (action == QLatin1String("screenshot")) {
        const auto path = request.value("path");
        const auto view = request.value("view");
        if (!path.isString() || path.toString().isEmpty() ||
            !(view.isUndefined() || view.isString())) {
            say(errorLine(QStringLiteral("screenshot needs \"path\" and an optional \"view\"")));
            return;
        }
        const auto image = stage_->grab(view.isString() ? view.toString() : QStringLiteral("all"));
        if (image.isNull()) {
            say(errorLine(QStringLiteral("no view \"%1\"").arg(view.toString())));
        } else if (!image.save(path.toString(), "PNG")) {
            say(errorLine(QStringLiteral("cannot write %1").arg(path.toString())));
        } else {
            say(replyLine("ok"));
        }
    } else if (action == QLatin1String("tapCompleteSet")) {
        if (!stage_->tapCompleteSet()) {
            say(errorLine(QStringLiteral("no Complete Set button on the lock screen")));
        } else if (!intentRunning_) {
            say(errorLine(QStringLiteral("the Complete Set button did not respond")));
        } else {
            controlWaiting_ = true;
        }
    } else if (action == QLatin1String("reloadTimelines")) {
        reloadTimelines();
        say(replyLine("ok"));
    } else {
        say(errorLine(QStringLiteral("unknown action \"%1\"").arg(action)));
    }
}

void HostApp::endOfControl() {
    controlEnded_ = true;
    nextControl();
}

} // namespace glanceside::host

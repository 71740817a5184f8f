#include "app/with_screens.hpp"

#include "app/headless_control.hpp"
#include "app/screen_gestures.hpp"
#include "app/stdin_lines.hpp"
#include "app/watch_app.hpp"
#include "screens/bridge/qt_executor.hpp"
#include "screens/viewmodels/alerts_view_model.hpp"
#include "screens/viewmodels/content_view_model.hpp"
#include "screens/viewmodels/detail_view_model.hpp"
#include "screens/viewmodels/sync_health_view_model.hpp"
#include "screens/viewmodels/watch_face_view_model.hpp"

#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QTimer>

#include <chrono>
#include <deque>
#include <iostream>

namespace app {

namespace {

// Control lines one at a time: the first once the window has drawn its first frame, each next
// one after the last one's answer and after whatever that action queued on the main queue (the
// screens redrawing, first of all), so that each action finds the screen settled and answers
// come in the order of the lines.
class ControlSequence {
public:
    ControlSequence(platform::Queue& main, HeadlessControl& control)
        : main_(main), control_(control) {}

    bool started() const { return started_; }
    // The first frame is on screen: lines may be carried out.
    void start() {
        if (!started_) {
            started_ = true;
            next();
        }
    }
    void add(std::string line) {
        lines_.push_back(std::move(line));
        if (started_ && !busy_) {
            next();
        }
    }
    // The end of input: the program ends once the lines before it have been answered.
    void end() {
        ended_ = true;
        if (started_ && !busy_) {
            next();
        }
    }
    // Called with every line written: an answer lets the next control line through.
    void written(std::string_view line) {
        if (line.starts_with("{\"reply\":")) {
            main_.async([this] { next(); });
        }
    }

private:
    void next() {
        busy_ = false;
        while (!lines_.empty() && !busy_) {
            auto line = std::move(lines_.front());
            lines_.pop_front();
            if (!line.empty()) {
                busy_ = true;
                control_.handleLine(line);
            }
        }
        if (!busy_ && ended_) {
            QCoreApplication::quit();
        }
    }

    platform::Queue& main_;
    HeadlessControl& control_;
    std::deque<std::string> lines_;
    bool started_ = false;
    bool busy_ = false;
    bool ended_ = false;
};

} // namespace

int runWithScreens(const Options& options, std::ostream& out, int& argc, char** argv) {
    if (qEnvironmentVariable("QT_QPA_PLATFORM") == QLatin1String("offscreen") &&
        !qEnvironmentVariableIsSet("QT_QUICK_BACKEND")) {
        // No GPU offscreen: the software renderer draws the same pixels without one.
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    }
    QGuiApplication application(argc, argv);
    platform::StreamLog log(out);
    std::string error;
    auto settings = WatchApp::settingsFrom(options, error);
    if (!settings) {
        std::cerr << "wristside: " << error << "\n";
        return 2;
    }
    screens::QtExecutor executor;
    WatchApp watch(executor, std::move(*settings), log);
    auto& core = watch.core();
    screens::ContentViewModel viewModel({core.mainScreen(), core.data(), core.workoutManager(),
                                         core.restTimer(), &core.syncHealth()});
    screens::SyncHealthViewModel syncViewModel(core.syncHealth(), executor.clock());
    screens::DetailViewModel detailViewModel(core.mainScreen(), core.data(), core.restTimer());
    screens::AlertsViewModel alerts(core.notificationCenter(), core.haptics(), executor.main(),
                                    log);

    QQmlApplicationEngine engine;
    // In the program's log, where tests look for them: a warning is a screen that is broken.
    engine.setOutputWarningsToStandardError(false);
    QObject::connect(&engine, &QQmlEngine::warnings, [&](const QList<QQmlError>& warnings) {
        for (const auto& warning : warnings) {
            log.line("QML warning: " + warning.toString().toStdString());
        }
    });
    auto load = [&](const char* file, const QVariantMap& properties) -> QQuickWindow* {
        engine.setInitialProperties(properties);
        engine.load(QUrl(QStringLiteral("qrc:/Wristside/") + QLatin1String(file)));
        auto* loaded = engine.rootObjects().isEmpty()
                           ? nullptr
                           : qobject_cast<QQuickWindow*>(engine.rootObjects().back());
        if (loaded != nullptr) {
            loaded->resize(options.screenWidth, options.screenHeight);
        }
        return loaded;
    };
    auto* window = load("Main.qml", {{"vm", QVariant::fromValue(&viewModel)},
                                     {"dvm", QVariant::fromValue(&detailViewModel)},
                                     {"alerts", QVariant::fromValue(&alerts)},
                                     {"syncVm", QVariant::fromValue(&syncViewModel)},
                                     {"visible", !options.watchFace}});
    screens::WatchFaceViewModel faceModel(core.complication());
    QQuickWindow* face = nullptr;
    if (window != nullptr && options.watchFace) {
        face = load("WatchFace.qml", {{"vm", QVariant::fromValue(&faceModel)},
                                      {"alerts", QVariant::fromValue(&alerts)}});
        const auto openProgram = [window, face] {
            face->hide();
            window->show();
            window->requestActivate();
        };
        QObject::connect(&faceModel, &screens::WatchFaceViewModel::openProgram, openProgram);
        QObject::connect(&alerts, &screens::AlertsViewModel::openProgram, openProgram);
    }
    if (window == nullptr || (options.watchFace && face == nullptr)) {
        std::cerr << "wristside: the screens did not load\n";
        return 1;
    }
    // Behind the watch face the rest sheet does not tick: its notification marks the end.
    core.mainScreen().setInForeground(window->isVisible());
    QObject::connect(window, &QWindow::visibleChanged,
                     [&core](bool visible) { core.mainScreen().setInForeground(visible); });
    // Becoming active asks for notification permission and reschedules a running rest's alert.
    QObject::connect(window, &QWindow::activeChanged, [&core, window] {
        if (window->isActive()) {
            core.becameActive();
        }
    });
    core.becameActive();

    ScreenGestures gestures(*window, viewModel, detailViewModel, face);
    std::unique_ptr<ControlSequence> sequence;
    HeadlessControl control(HeadlessControl::Wiring{
        executor, core.data(), core.outbox(), core.restTimer(), core.workoutManager(),
        core.mainScreen(), core.notificationCenter(),
        [&](std::string_view line) {
            log.line(line);
            if (sequence) {
                sequence->written(line);
            }
        },
        [&executor] { executor.main().async([] { QCoreApplication::quit(); }); }, &gestures,
        &core.syncHealth()});
    sequence = std::make_unique<ControlSequence>(executor.main(), control);
    // A line handled before the first frame would find a window not yet laid out to its size.
    // frameSwapped may come from a render thread: the context object brings it to this one.
    auto* shown = face != nullptr ? face : window;
    QObject::connect(
        shown, &QQuickWindow::frameSwapped, shown, [&] { sequence->start(); },
        static_cast<Qt::ConnectionType>(Qt::AutoConnection | Qt::SingleShotConnection));
    QTimer::singleShot(std::chrono::seconds(5), [&] {
        if (!sequence->started()) {
            log.line("no frame drawn after 5 s: control lines are read all the same");
            sequence->start();
        }
    });
    std::unique_ptr<StdinLines> input;
    if (options.controlStdin) {
        input = std::make_unique<StdinLines>(
            [&](std::string line) {
                executor.main().async([&, line = std::move(line)] { sequence->add(line); });
            },
            [&] { executor.main().async([&] { sequence->end(); }); });
    }
    const int status = application.exec();
    input.reset();
    return status;
}

} // namespace app

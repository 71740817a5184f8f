// The yardstick for the watch's start-up: an empty Qt Quick window, set up as the watch sets up
// its own (a QML Window through QQmlApplicationEngine, the software renderer offscreen), that
// prints one line once its first frame is on screen and exits.
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QSGRendererInterface>

#include <cstdio>

int main(int argc, char** argv) {
    if (qEnvironmentVariable("QT_QPA_PLATFORM") == QLatin1String("offscreen") &&
        !qEnvironmentVariableIsSet("QT_QUICK_BACKEND")) {
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    }
    QGuiApplication application(argc, argv);
    QQmlApplicationEngine engine;
    engine.loadData("import QtQuick\nWindow { width: 396; height: 484; visible: true }");
    auto* window = engine.rootObjects().isEmpty()
                       ? nullptr
                       : qobject_cast<QQuickWindow*>(engine.rootObjects().first());
    if (window == nullptr) {
        return 1;
    }
    QObject::connect(
        window, &QQuickWindow::frameSwapped, &application,
        [] {
            std::puts("first frame");
            std::fflush(stdout);
            QCoreApplication::quit();
        },
        Qt::SingleShotConnection);
    return application.exec();
}

// glanceside-host: loads the widget plug-in and draws its widget and live activity, as the
// phone system would; see docs/glanceside.md.

#include "widget/host/host_app.hpp"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMetaObject>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <thread>

namespace {

constexpr const char* usage =
    "usage: glanceside-host --app-group DIR --data-dir DIR [options]\n"
    "  --plugin FILE          the plug-in (default: glanceside.so of this build)\n"
    "  --system-version V     the phone system's version (default 17.0)\n"
    "  --app-group DIR        the app-group directory shared with the phone program\n"
    "  --data-dir DIR         the plug-in's own data directory\n"
    "  --phone-socket PATH    listen there for the phone program\n"
    "  --control stdin        read control requests, one JSON object per line\n"
    "  --extra-family NAME    also draw the widget in a family it does not declare\n"
    "  --help                 this text\n";

void writeLine(const QByteArray& line) {
    std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

int fail(const std::string& message) {
    std::fprintf(stderr, "glanceside-host: %s\n", message.c_str());
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    glanceside::host::HostOptions options;
    bool control = false;
    bool pluginGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string flag = argv[i];
        if (flag == "--help") {
            std::fputs(usage, stdout);
            return 0;
        }
        if (i + 1 >= argc) {
            std::fputs(usage, stderr);
            return fail(flag + " needs a value");
        }
        const std::string value = argv[++i];
        if (flag == "--plugin") {
            options.plugin = value;
            pluginGiven = true;
        } else if (flag == "--system-version") {
            options.systemVersion = value;
        } else if (flag == "--app-group") {
            options.appGroupDirectory = value;
        } else if (flag == "--data-dir") {
            options.dataDirectory = value;
        } else if (flag == "--phone-socket") {
            options.phoneSocket = value;
        } else if (flag == "--extra-family") {
            options.extraFamily = value;
        } else if (flag == "--control" && value == "stdin") {
            control = true;
        } else {
            std::fputs(usage, stderr);
            return fail("unknown option " + flag + " " + value);
        }
    }
    if (options.appGroupDirectory.empty() || options.dataDirectory.empty()) {
        std::fputs(usage, stderr);
        return fail("--app-group and --data-dir are required");
    }
    // The system gives the extension its own container; the app group is the phone
    // application's to create.
    if (std::error_code error;
        !std::filesystem::create_directories(options.dataDirectory, error) && error) {
        return fail("cannot create " + options.dataDirectory.string() + ": " + error.message());
    }

    // Qt sees no options: it would take "--plugin" for one of its own.
    int qtArgc = 1;
    QGuiApplication app(qtArgc, argv);
    if (!pluginGiven) {
        // The build tree's plug-in: this program lives in its host/ folder.
        options.plugin =
            (QCoreApplication::applicationDirPath() + "/../glanceside.so").toStdString();
    }
    glanceside::host::HostApp host(options, writeLine);
    QObject::connect(&host, &glanceside::host::HostApp::quitRequested, &app,
                     &QCoreApplication::quit, Qt::QueuedConnection);
    if (!host.start()) {
        return fail(host.error().toStdString());
    }
    if (control) {
        // A blocking read of its own; each line goes to the GUI thread in order. It is left
        // blocked in its read when the program ends.
        std::thread([&host] {
            std::string line;
            while (std::getline(std::cin, line)) {
                QMetaObject::invokeMethod(
                    &host,
                    [&host, bytes = QByteArray::fromStdString(line)] { host.control(bytes); },
                    Qt::QueuedConnection);
            }
            QMetaObject::invokeMethod(
                &host, [&host] { host.endOfControl(); }, Qt::QueuedConnection);
        }).detach();
    }
    return QGuiApplication::exec();
}

#pragma once

// The host's window: the plug-in's QML views in their frames, fed with the shown entry and the
// first running activity, read back as a person would (visible texts in reading order) and
// pressed as a finger would.

#include "glanceside/types.hpp"

#include <QImage>
#include <QJsonObject>
#include <QObject>
#include <QQuickItem>
#include <QQuickView>
#include <QString>
#include <QStringList>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace glanceside::host {

// What the lock screen and the Dynamic Island draw of one activity.
struct ShownActivity {
    std::string name;
    WorkoutActivityAttributes::ContentState state;
    // The plug-in's measuring text for the rest range (empty without one).
    std::string measuringText;
    // The intent is running: the button waits.
    bool completing = false;
};

class Stage : public QObject {
    Q_OBJECT
public:
    // Loads the views from the plug-in's folder; `error()` tells when that failed.
    explicit Stage(const std::filesystem::path& viewsDirectory);
    ~Stage() override;

    const QString& error() const { return error_; }
    QQuickWindow& window() { return *view_; }

    void showEntry(const SimpleEntry& entry);
    // Nothing: no lock screen and no Dynamic Island. The timer texts are those at `now`.
    void showActivity(const std::optional<ShownActivity>& activity, Date now);
    // Advances the live timer texts to `now`.
    void tick(Date now);
    // Also draws the widget in a family it does not declare (empty: not drawn).
    void setExtraFamily(const QString& family);

    // The visible texts of one frame (objectName, e.g. "systemSmall", "lockScreen"), in reading
    // order; empty when the frame shows nothing.
    QStringList texts(const QString& frame);
    // {"home": {...}, "lockScreen": [...] or null, "dynamicIsland": {...} or null}.
    QJsonObject screen();
    // "home", "lockScreen", "dynamicIsland" or "all"; a null image for another name.
    QImage grab(const QString& view);
    // Touches the lock screen's "Complete Set" button; false when it is not shown or disabled.
    bool tapCompleteSet();
    // Draws that frame alone (benchmarks); empty: every frame again.
    void drawOnly(const QString& frame);
    // The view a frame shows, or null when the frame is hidden.
    QQuickItem* frameView(const QString& name);

signals:
    // The lock screen's button was pressed.
    void completeSetRequested();

private:
    QQuickItem* frame(const QString& name);
    void settle();

    std::unique_ptr<QQuickView> view_;
    std::optional<ShownActivity> activity_;
    QString error_;
};

} // namespace glanceside::host

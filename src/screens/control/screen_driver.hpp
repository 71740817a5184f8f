#pragma once

#include <QPointF>
#include <QQuickItem>
#include <QQuickWindow>
#include <QString>
#include <QStringList>

namespace screens {

// Finds, reads and presses the window's controls the way a finger and an eye would: only what
// is visible, enabled and inside the window counts, and while a sheet is up only the sheet.
class ScreenDriver {
public:
    explicit ScreenDriver(QQuickWindow& window) : window_(window) {}

    // Lays out everything pending (new list rows, moved pages), as the next frame would.
    void settle();
    // The control with that objectName in the top layer that a finger can reach now; null when
    // there is none.
    QQuickItem* reachable(const QString& objectName);
    // Any item with that objectName in the top layer, on screen or not (a list to scroll).
    QQuickItem* find(const QString& objectName);
    // A touch at the item's centre: press and release, as a tap.
    void tap(QQuickItem& item);
    // A finger's drag across the window, in window coordinates.
    void drag(QPointF from, QPointF to);
    // The crown: `detents` steps, positive up, at the window's centre.
    void turnCrown(int detents);
    // The texts a person reads now, top to bottom, then left to right.
    QStringList visibleTexts();
    // The objectName of the screen the navigation shows.
    QString screenName();
    bool screenshot(const QString& path);

private:
    QQuickItem* topLayer();
    bool onScreen(const QQuickItem& item) const;

    QQuickWindow& window_;
};

} // namespace screens

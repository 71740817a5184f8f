#include "screens/control/screen_driver.hpp"

#include <QCoreApplication>
#include <QImage>
#include <QMouseEvent>
#include <QWheelEvent>
#include <QtTest/QTest>

#include <algorithm>
#include <functional>
#include <vector>

namespace screens {

namespace {

void eachItem(QQuickItem* root, const std::function<void(QQuickItem*)>& visit) {
    if (root == nullptr) {
        return;
    }
    visit(root);
    for (auto* child : root->childItems()) {
        eachItem(child, visit);
    }
}

QQuickItem* named(QQuickItem* root, const QString& name) {
    if (root == nullptr) {
        return nullptr;
    }
    std::vector<QQuickItem*> pending{root};
    // Breadth first, so that a screen's own control wins over a same-named one deeper down.
    for (std::size_t i = 0; i < pending.size(); ++i) {
        if (pending[i]->objectName() == name) {
            return pending[i];
        }
        const auto children = pending[i]->childItems();
        pending.insert(pending.end(), children.begin(), children.end());
    }
    return nullptr;
}

} // namespace

void ScreenDriver::settle() {
    // Polishing a list creates its rows, which need polishing in turn.
    for (int pass = 0; pass < 3; ++pass) {
        eachItem(window_.contentItem(), [](QQuickItem* item) { item->ensurePolished(); });
    }
}

QQuickItem* ScreenDriver::topLayer() {
    auto* keypad = named(window_.contentItem(), QStringLiteral("keypadLayer"));
    if (keypad != nullptr && keypad->isVisible()) {
        return keypad;
    }
    auto* sheet = named(window_.contentItem(), QStringLiteral("sheet"));
    if (sheet != nullptr && sheet->isVisible()) {
        return sheet;
    }
    auto* navigation = named(window_.contentItem(), QStringLiteral("navigation"));
    auto* current =
        navigation != nullptr ? navigation->property("currentItem").value<QQuickItem*>() : nullptr;
    return current != nullptr ? current : window_.contentItem();
}

QString ScreenDriver::screenName() {
    auto* navigation = named(window_.contentItem(), QStringLiteral("navigation"));
    auto* current =
        navigation != nullptr ? navigation->property("currentItem").value<QQuickItem*>() : nullptr;
    return current != nullptr ? current->objectName() : QString();
}

bool ScreenDriver::onScreen(const QQuickItem& item) const {
    if (!item.isVisible() || item.width() <= 0 || item.height() <= 0) {
        return false;
    }
    QRectF shown = item.mapRectToScene(QRectF(0, 0, item.width(), item.height()));
    shown &= QRectF(0, 0, window_.width(), window_.height());
    for (auto* ancestor = item.parentItem(); ancestor != nullptr && !shown.isEmpty();
         ancestor = ancestor->parentItem()) {
        if (ancestor->opacity() <= 0) {
            return false;
        }
        if (ancestor->clip()) {
            shown &= ancestor->mapRectToScene(QRectF(0, 0, ancestor->width(), ancestor->height()));
        }
    }
    // Mostly shown: a row half under the list's edge is not what a finger aims at.
    const double whole = item.width() * item.height();
    return item.opacity() > 0 && shown.width() * shown.height() >= 0.5 * whole;
}

QQuickItem* ScreenDriver::find(const QString& objectName) {
    settle();
    return named(topLayer(), objectName);
}

QQuickItem* ScreenDriver::reachable(const QString& objectName) {
    settle();
    QQuickItem* found = nullptr;
    eachItem(topLayer(), [&](QQuickItem* item) {
        if (found == nullptr && item->objectName() == objectName && item->isEnabled() &&
            onScreen(*item)) {
            found = item;
        }
    });
    return found;
}

void ScreenDriver::tap(QQuickItem& item) {
    const QPoint centre = item.mapToScene(QPointF(item.width() / 2, item.height() / 2)).toPoint();
    QTest::mouseClick(&window_, Qt::LeftButton, Qt::NoModifier, centre);
}

void ScreenDriver::drag(QPointF from, QPointF to) {
    // As a finger moves: a frame between events, so that flicks and swipes see its speed.
    constexpr int steps = 12;
    QTest::mousePress(&window_, Qt::LeftButton, Qt::NoModifier, from.toPoint());
    for (int step = 1; step <= steps; ++step) {
        QTest::mouseMove(&window_, (from + (to - from) * step / steps).toPoint(), 16);
    }
    QTest::mouseRelease(&window_, Qt::LeftButton, Qt::NoModifier, to.toPoint(), 16);
    settle();
}

void ScreenDriver::turnCrown(int detents) {
    const QPointF centre(window_.width() / 2.0, window_.height() / 2.0);
    QWheelEvent event(centre, window_.mapToGlobal(centre), QPoint(), QPoint(0, 120 * detents),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(&window_, &event);
    settle();
}

QStringList ScreenDriver::visibleTexts() {
    settle();
    struct Shown {
        QRectF at;
        QString text;
    };
    std::vector<Shown> shown;
    eachItem(topLayer(), [&](QQuickItem* item) {
        if (!item->inherits("QQuickText") || !onScreen(*item)) {
            return;
        }
        auto text = item->property("text").toString();
        if (!text.trimmed().isEmpty()) {
            shown.push_back(
                {item->mapRectToScene(QRectF(0, 0, item->width(), item->height())), text});
        }
    });
    // Texts whose tops lie in the same band of a few pixels count as one line, read left to
    // right.
    auto line = [](const Shown& s) { return qRound(s.at.top() / 6); };
    std::stable_sort(shown.begin(), shown.end(), [&](const Shown& a, const Shown& b) {
        return std::pair(line(a), a.at.left()) < std::pair(line(b), b.at.left());
    });
    QStringList texts;
    for (const auto& s : shown) {
        texts << s.text;
    }
    return texts;
}

bool ScreenDriver::screenshot(const QString& path) {
    settle();
    return window_.grabWindow().save(path, "PNG");
}

} // namespace screens

#include "widget/host/stage.hpp"

#include "widget/host/countdown.hpp"

#include <QCoreApplication>
#include <QEventPoint>
#include <QJsonArray>
#include <QPointingDevice>
#include <QQmlEngine>
#include <QQuickItem>
#include <QTouchEvent>
#include <QUrl>
#include <QtTest/QTest>

#include <algorithm>
#include <functional>
#include <vector>

namespace glanceside::host {
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
    QQuickItem* found = nullptr;
    eachItem(root, [&](QQuickItem* item) {
        if (found == nullptr && item->objectName() == name) {
            found = item;
        }
    });
    return found;
}

bool shown(const QQuickItem& item) {
    if (!item.isVisible() || item.width() <= 0 || item.height() <= 0) {
        return false;
    }
    for (const QQuickItem* at = &item; at != nullptr; at = at->parentItem()) {
        if (at->opacity() <= 0) {
            return false;
        }
    }
    return true;
}

QVariantMap activityMap(const ShownActivity& activity, Date now) {
    const auto& state = activity.state;
    QVariantList progress;
    for (double value : state.percentageComplete) {
        progress << value;
    }
    const bool hasRest = state.lastSetCompletedDate.has_value();
    return {
        {"name", QString::fromStdString(activity.name)},
        {"hasRest", hasRest},
        {"restCountdown",
         hasRest ? QString::fromStdString(countdownText(*state.lastSetCompletedDate, now))
                 : QString()},
        {"minimalTimer",
         hasRest ? QString::fromStdString(textTimerText(*state.lastSetCompletedDate, now))
                 : QString()},
        {"measuringText", QString::fromStdString(activity.measuringText)},
        {"clock", QString::fromStdString(countUpText(state.startTime.lower, now))},
        {"nextSetName", QString::fromStdString(state.nextSetName)},
        {"nextSetInfo", QString::fromStdString(state.nextSetInfo)},
        {"progress", progress},
        {"completing", activity.completing},
    };
}

// JavaScript's null, which the views test for.
QVariant jsNull() {
    return QVariant::fromValue(nullptr);
}

// A touch screen of the host's own, registered with the window system so that the views see
// touch points as on the phone.
QPointingDevice* touchScreen() {
    static QPointingDevice* device = QTest::createTouchDevice();
    return device;
}

void touch(QQuickWindow& window, QPoint at) {
    QTest::touchEvent(&window, touchScreen()).press(0, at, &window);
    QTest::touchEvent(&window, touchScreen()).release(0, at, &window);
}

} // namespace

Stage::Stage(const std::filesystem::path& viewsDirectory) : view_(std::make_unique<QQuickView>()) {
    view_->setResizeMode(QQuickView::SizeViewToRootObject);
    view_->setColor(QColor("#dfe3e8"));
    view_->setTitle(QStringLiteral("glanceside-host"));
    view_->setInitialProperties(
        {{"views", QUrl::fromLocalFile(QString::fromStdString(viewsDirectory.string()))}});
    view_->setSource(QUrl(QStringLiteral("qrc:/glanceside-host/Stage.qml")));
    auto* root = view_->rootObject();
    if (root == nullptr) {
        error_ = QStringLiteral("the host's stage does not load");
        return;
    }
    connect(root, SIGNAL(completeSetRequested()), this, SIGNAL(completeSetRequested()));
    for (const auto* name : {"systemSmall", "systemMedium", "lockScreen", "expanded",
                             "compactLeading", "compactTrailing", "minimal"}) {
        auto* loader = frame(QString::fromLatin1(name));
        if (loader == nullptr || loader->property("status").toInt() != 1) {
            error_ = QStringLiteral("the plug-in's views in %1 do not load")
                         .arg(QString::fromStdString(viewsDirectory.string()));
            return;
        }
    }
    view_->show();
}

Stage::~Stage() = default;

void Stage::showEntry(const SimpleEntry& entry) {
    QStringList names;
    for (const auto& exercise : entry.exercises) {
        names << QString::fromStdString(exercise.name);
    }
    view_->rootObject()->setProperty("entry",
                                     QVariantMap{{"title", QString::fromStdString(entry.title)},
                                                 {"status", QString::fromStdString(entry.status)},
                                                 {"exercises", names}});
}

void Stage::showActivity(const std::optional<ShownActivity>& activity, Date now) {
    activity_ = activity;
    tick(now);
}

void Stage::tick(Date now) {
    view_->rootObject()->setProperty("activity",
                                     activity_ ? QVariant(activityMap(*activity_, now)) : jsNull());
}

void Stage::setExtraFamily(const QString& family) {
    view_->rootObject()->setProperty("extraFamily", family);
}

void Stage::drawOnly(const QString& only) {
    for (const auto* name : {"systemSmall", "systemMedium", "extraFamily", "lockScreenSection",
                             "dynamicIslandSection"}) {
        if (auto* item = frame(QString::fromLatin1(name))) {
            const bool drawn = only.isEmpty() || only == QLatin1String(name) ||
                               (only == QLatin1String("lockScreen") &&
                                QLatin1String(name) == QLatin1String("lockScreenSection"));
            item->setOpacity(drawn ? 1 : 0);
        }
    }
}

QQuickItem* Stage::frame(const QString& name) {
    return named(view_->rootObject(), name);
}

QQuickItem* Stage::frameView(const QString& name) {
    auto* loader = frame(name);
    if (loader == nullptr || !shown(*loader)) {
        return nullptr;
    }
    return loader->property("item").value<QQuickItem*>();
}

void Stage::settle() {
    for (int pass = 0; pass < 3; ++pass) {
        eachItem(view_->contentItem(), [](QQuickItem* item) { item->ensurePolished(); });
    }
}

QStringList Stage::texts(const QString& frameName) {
    settle();
    auto* root = frameView(frameName);
    if (root == nullptr || !shown(*root)) {
        return {};
    }
    struct Text {
        QRectF at;
        QString text;
    };
    std::vector<Text> found;
    eachItem(root, [&](QQuickItem* item) {
        if (!item->inherits("QQuickText") || !shown(*item)) {
            return;
        }
        const auto text = item->property("text").toString();
        if (!text.trimmed().isEmpty()) {
            found.push_back(
                {item->mapRectToScene(QRectF(0, 0, item->width(), item->height())), text});
        }
    });
    // Tops within a few points of each other are one line, read left to right.
    auto line = [](const Text& t) { return qRound(t.at.top() / 6); };
    std::stable_sort(found.begin(), found.end(), [&](const Text& a, const Text& b) {
        return std::pair(line(a), a.at.left()) < std::pair(line(b), b.at.left());
    });
    QStringList texts;
    for (const auto& t : found) {
        texts << t.text;
    }
    return texts;
}

QJsonObject Stage::screen() {
    QJsonObject home{{"systemSmall", QJsonArray::fromStringList(texts("systemSmall"))},
                     {"systemMedium", QJsonArray::fromStringList(texts("systemMedium"))}};
    const auto extra = view_->rootObject()->property("extraFamily").toString();
    if (!extra.isEmpty()) {
        home.insert(extra, QJsonArray::fromStringList(texts("extraFamily")));
    }
    QJsonObject screen{{"home", home}};
    if (activity_) {
        screen.insert("lockScreen", QJsonArray::fromStringList(texts("lockScreen")));
        screen.insert(
            "dynamicIsland",
            QJsonObject{{"expanded", QJsonArray::fromStringList(texts("expanded"))},
                        {"compactLeading", QJsonArray::fromStringList(texts("compactLeading"))},
                        {"compactTrailing", QJsonArray::fromStringList(texts("compactTrailing"))},
                        {"minimal", QJsonArray::fromStringList(texts("minimal"))}});
    } else {
        screen.insert("lockScreen", QJsonValue::Null);
        screen.insert("dynamicIsland", QJsonValue::Null);
    }
    return screen;
}

QImage Stage::grab(const QString& viewName) {
    settle();
    QImage whole = view_->grabWindow();
    if (viewName == QLatin1String("all")) {
        return whole;
    }
    static const QHash<QString, QString> sections{{"home", "homeSection"},
                                                  {"lockScreen", "lockScreenSection"},
                                                  {"dynamicIsland", "dynamicIslandSection"}};
    auto* section = sections.contains(viewName) ? frame(sections.value(viewName)) : nullptr;
    if (section == nullptr) {
        return {};
    }
    const double scale = whole.devicePixelRatio();
    const QRectF at = section->mapRectToScene(QRectF(0, 0, section->width(), section->height()));
    const QRect pixels(qFloor(at.left() * scale), qFloor(at.top() * scale),
                       qCeil(at.width() * scale), qCeil(at.height() * scale));
    return whole.copy(pixels);
}

bool Stage::tapCompleteSet() {
    settle();
    auto* root = frameView(QStringLiteral("lockScreen"));
    auto* button = root != nullptr ? named(root, QStringLiteral("completeSetButton")) : nullptr;
    if (button == nullptr || !shown(*button) || !button->isEnabled()) {
        return false;
    }
    touch(*view_, button->mapToScene(QPointF(button->width() / 2, button->height() / 2)).toPoint());
    return true;
}

} // namespace glanceside::host

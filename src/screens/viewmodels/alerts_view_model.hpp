#pragma once

#include "platform/exec/queue.hpp"
#include "platform/haptics/haptics.hpp"
#include "platform/log/log.hpp"
#include "platform/notifications/simulated_notification_center.hpp"

#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

namespace screens {

// What the watch would make the lifter feel or see over any screen: a fired notification as a
// banner with its title and body, and each haptic as a pulse of the screen's edge (and a log
// line, since nothing buzzes here). Main queue only; deliveries may come from any thread.
class AlertsViewModel final : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool bannerShown READ bannerShown NOTIFY changed)
    Q_PROPERTY(QString bannerTitle READ bannerTitle NOTIFY changed)
    Q_PROPERTY(QString bannerBody READ bannerBody NOTIFY changed)
    // True for a moment after each haptic: the screen's edge glows. Timed here by a Qt timer,
    // since a QML timer runs on the animation clock, which stands still while the scene draws
    // nothing.
    Q_PROPERTY(bool glowing READ glowing NOTIFY changed)

public:
    // How long a banner stays when nobody taps it.
    static constexpr platform::Duration bannerTime = std::chrono::seconds(5);
    static constexpr platform::Duration glowTime = std::chrono::milliseconds(600);

    AlertsViewModel(platform::SimulatedNotificationCenter& notifications,
                    platform::HapticRecorder& haptics, platform::Queue& main, platform::Log& log,
                    QObject* parent = nullptr);
    ~AlertsViewModel() override;

    bool bannerShown() const { return !title_.isEmpty() || !body_.isEmpty(); }
    QString bannerTitle() const { return title_; }
    QString bannerBody() const { return body_; }
    bool glowing() const { return glowing_; }

    // The banner's action: the notification category's one action opens the program.
    Q_INVOKABLE void tapBanner();

signals:
    void changed();
    void openProgram();

private:
    void show(const platform::DeliveredNotification& delivered);
    void hideBanner();

    platform::Queue& main_;
    platform::Log& log_;
    QString title_;
    QString body_;
    bool glowing_ = false;
    platform::TaskHandle hide_;
    QTimer glowEnd_;
    platform::Subscription hapticSubscription_;
    // Deliveries hop to the main queue; a hop that lands after this view-model is gone is
    // dropped there (the flag is read and cleared on the main queue only).
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace screens

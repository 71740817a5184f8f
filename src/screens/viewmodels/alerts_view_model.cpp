#include "screens/viewmodels/alerts_view_model.hpp"

#include "screens/bridge/display_text.hpp"

#include <string>

namespace screens {

AlertsViewModel::AlertsViewModel(platform::SimulatedNotificationCenter& notifications,
                                 platform::HapticRecorder& haptics, platform::Queue& main,
                                 platform::Log& log, QObject* parent)
    : QObject(parent), main_(main), log_(log) {
    glowEnd_.setSingleShot(true);
    glowEnd_.setInterval(std::chrono::duration_cast<std::chrono::milliseconds>(glowTime));
    connect(&glowEnd_, &QTimer::timeout, this, [this] {
        glowing_ = false;
        emit changed();
    });
    notifications.onDeliver([this, &main, alive = std::weak_ptr(alive_)](
                                const platform::DeliveredNotification& delivered) {
        main.async([this, alive, delivered] {
            if (auto flag = alive.lock(); flag && *flag) {
                show(delivered);
            }
        });
    });
    hapticSubscription_ =
        haptics.lastPlayed.observe([this](const std::optional<platform::PlayedHaptic>& played) {
            if (!played) {
                return;
            }
            log_.line("Haptic played: " + std::string(platform::hapticName(played->type)));
            glowing_ = true;
            glowEnd_.start();
            emit changed();
        });
}

AlertsViewModel::~AlertsViewModel() {
    *alive_ = false;
    hide_.cancel();
}

void AlertsViewModel::show(const platform::DeliveredNotification& delivered) {
    title_ = displayText(delivered.request.content.title);
    body_ = displayText(delivered.request.content.body);
    hide_.cancel();
    hide_ = main_.asyncAfter(bannerTime, [this, alive = std::weak_ptr(alive_)] {
        if (auto flag = alive.lock(); flag && *flag) {
            hideBanner();
        }
    });
    emit changed();
}

void AlertsViewModel::hideBanner() {
    if (!bannerShown()) {
        return;
    }
    title_.clear();
    body_.clear();
    emit changed();
}

void AlertsViewModel::tapBanner() {
    hide_.cancel();
    hideBanner();
    emit openProgram();
}

} // namespace screens

#include "screens/viewmodels/watch_face_view_model.hpp"

#include "platform/complications/complication_data_source.hpp"

#include <QTime>

#include <chrono>

namespace screens {

WatchFaceViewModel::WatchFaceViewModel(platform::ComplicationDataSource& source, QObject* parent)
    : QObject(parent) {
    // The platform's questions answer through handlers; this data source answers at once.
    source.getComplicationDescriptors([this, &source](const auto& descriptors) {
        if (descriptors.empty()) {
            return;
        }
        const auto& descriptor = descriptors.front();
        name_ = QString::fromStdString(descriptor.displayName);
        const platform::Complication slot{descriptor.identifier,
                                          descriptor.supportedFamilies.empty()
                                              ? platform::ComplicationFamily::graphicCircular
                                              : descriptor.supportedFamilies.front()};
        source.getCurrentTimelineEntry(slot, [this](const auto& entry) {
            // An entry has only its date here: what it would draw is the program's template.
            entry_ = entry ? QStringLiteral("\u2022") : QString();
        });
    });
    clock_.setInterval(std::chrono::seconds(10));
    connect(&clock_, &QTimer::timeout, this, &WatchFaceViewModel::timeChanged);
    clock_.start();
}

QString WatchFaceViewModel::time() const {
    return QTime::currentTime().toString(QStringLiteral("H:mm"));
}

void WatchFaceViewModel::tapComplication() {
    if (!name_.isEmpty()) {
        emit openProgram();
    }
}

} // namespace screens

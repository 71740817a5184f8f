import QtQuick

// The taptic engine's stand-in: the screen's edge glows for a moment for each haptic played.
Rectangle {
    id: pulse
    objectName: "hapticPulse"
    required property var alerts
    anchors.fill: parent
    color: "transparent"
    border.color: Theme.accentColor
    border.width: 6 * Theme.unit
    radius: Theme.radius
    visible: pulse.alerts.glowing
    z: 101
}

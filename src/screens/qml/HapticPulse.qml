import QtQuick

// The taptic engine's stand-in: the screen's edge glows once for each haptic played.
Rectangle {
    id: pulse
    objectName: "hapticPulse"
    required property var alerts
    anchors.fill: parent
    color: "transparent"
    border.color: Theme.accentColor
    border.width: 6 * Theme.unit
    radius: Theme.radius
    opacity: 0
    z: 101

    Connections {
        target: pulse.alerts
        function onHaptic() { glow.restart() }
    }
    SequentialAnimation {
        id: glow
        NumberAnimation { target: pulse; property: "opacity"; to: 1; duration: 120 }
        NumberAnimation { target: pulse; property: "opacity"; to: 0; duration: 480 }
    }
}

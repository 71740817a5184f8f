import QtQuick

// The taptic engine's stand-in: the screen's edge glows for a moment for each haptic played.
// A timer rather than an animation, so that an idle screen draws nothing in between.
Rectangle {
    id: pulse
    objectName: "hapticPulse"
    required property var alerts
    anchors.fill: parent
    color: "transparent"
    border.color: Theme.accentColor
    border.width: 6 * Theme.unit
    radius: Theme.radius
    visible: false
    z: 101

    Connections {
        target: pulse.alerts
        function onHaptic() {
            pulse.visible = true;
            glow.restart();
        }
    }
    Timer {
        id: glow
        interval: 600
        onTriggered: pulse.visible = false
    }
}

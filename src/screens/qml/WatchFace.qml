import QtQuick

// A plain watch face: the time, and the program's complication, which opens the program.
Window {
    id: face
    required property var vm
    required property var alerts
    width: 396
    height: 484
    color: Theme.background
    title: "watch face"
    visible: true

    Binding { target: Theme; property: "unit"; value: Math.min(face.width / 198, face.height / 242) }

    Item {
        objectName: "WatchFace"
        anchors.fill: parent

        Text {
            anchors.horizontalCenter: parent.horizontalCenter
            anchors.top: parent.top
            anchors.topMargin: parent.height * 0.18
            text: face.vm.time
            color: Theme.primaryText
            font.pixelSize: Theme.largeTime * 1.4
            font.weight: Font.Light
        }
        Rectangle {
            objectName: "complication"
            visible: face.vm.complicationName.length > 0
            anchors.horizontalCenter: parent.horizontalCenter
            anchors.bottom: parent.bottom
            anchors.bottomMargin: parent.height * 0.12
            width: Theme.buttonHeight * 2.2
            height: width
            radius: width / 2
            color: Theme.surface
            border.color: Theme.accentColor
            border.width: Theme.unit
            Text {
                anchors.centerIn: parent
                width: parent.width - 2 * Theme.spacing
                horizontalAlignment: Text.AlignHCenter
                text: face.vm.complicationName
                color: Theme.accentColor
                font.pixelSize: Theme.footnote
                font.weight: Font.DemiBold
                fontSizeMode: Text.HorizontalFit
                minimumPixelSize: Theme.caption
            }
            MouseArea {
                anchors.fill: parent
                onClicked: face.vm.tapComplication()
            }
        }
    }
    NotificationBanner { alerts: face.alerts }
    HapticPulse { alerts: face.alerts }
}

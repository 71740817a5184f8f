import QtQuick

// A full-width, rounded watch button. `clicked` fires on release inside, as a tap does.
Rectangle {
    id: button
    property alias text: label.text
    property color textColor: Theme.primaryText
    signal clicked()

    implicitHeight: Theme.buttonHeight
    radius: Theme.radius
    color: area.pressed ? Theme.buttonPressed : Theme.buttonBackground
    opacity: enabled ? 1 : 0.4

    Text {
        id: label
        anchors.fill: parent
        anchors.leftMargin: Theme.padding
        anchors.rightMargin: Theme.padding
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        color: button.textColor
        font.pixelSize: Theme.body
        font.weight: Font.DemiBold
        elide: Text.ElideRight
        maximumLineCount: 1
    }
    MouseArea {
        id: area
        anchors.fill: parent
        enabled: button.enabled
        onClicked: button.clicked()
    }
}

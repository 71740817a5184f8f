import QtQuick

// The watch does not edit bands: it says where to change one.
Item {
    id: alert
    objectName: "BandAlert"
    required property var dvm

    Column {
        anchors.verticalCenter: parent.verticalCenter
        width: parent.width
        spacing: Theme.padding
        Text {
            width: parent.width
            text: alert.dvm.texts.bandAlert
            color: Theme.primaryText
            font.pixelSize: Theme.headline
            font.weight: Font.DemiBold
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
        }
        WatchButton {
            objectName: "bandAlertOk"
            width: parent.width
            text: "OK"
            onClicked: alert.dvm.closeEditorSheet()
        }
    }
}

import QtQuick

// How the hand-off of the finished workout to the phone goes.
Item {
    id: sheet
    objectName: "SyncStatusSheet"
    required property var vm

    Column {
        anchors.verticalCenter: parent.verticalCenter
        width: parent.width
        spacing: Theme.padding
        Repeater {
            model: sheet.vm.handOffLines
            Text {
                required property string modelData
                required property int index
                width: sheet.width
                text: modelData
                color: index === 0 ? Theme.primaryText : Theme.secondaryText
                font.pixelSize: index === 0 ? Theme.headline : Theme.footnote
                wrapMode: Text.WordWrap
                horizontalAlignment: Text.AlignHCenter
            }
        }
    }
}

import QtQuick

// Shown while the watch holds no workout state it can use: open the phone, or ask again.
Item {
    id: prompt
    required property var vm

    Column {
        anchors.centerIn: parent
        width: parent.width - 2 * Theme.padding
        spacing: Theme.padding

        Text {
            width: parent.width
            text: prompt.vm.texts.phonePrompt
            color: Theme.primaryText
            font.pixelSize: Theme.headline
            wrapMode: Text.WordWrap
            horizontalAlignment: Text.AlignHCenter
        }
        Text {
            width: parent.width
            visible: text.length > 0
            text: prompt.vm.syncWorkoutError
            color: Theme.secondaryText
            font.pixelSize: Theme.subheadline
            wrapMode: Text.WordWrap
            maximumLineCount: 4
            elide: Text.ElideRight
            horizontalAlignment: Text.AlignHCenter
        }
        WatchButton {
            objectName: "refresh"
            width: parent.width
            text: prompt.vm.texts.refresh
            onClicked: prompt.vm.refresh()
        }
    }
}

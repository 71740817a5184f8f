import QtQuick

// Asks before finishing a workout that still has open sets.
Item {
    id: sheet
    objectName: "WorkoutFinishSheet"
    required property var vm

    Column {
        anchors.verticalCenter: parent.verticalCenter
        width: parent.width
        spacing: Theme.padding * 2
        Text {
            width: parent.width
            text: sheet.vm.texts.finishQuestion
            color: Theme.primaryText
            font.pixelSize: Theme.headline
            wrapMode: Text.WordWrap
            horizontalAlignment: Text.AlignHCenter
        }
        WatchButton {
            objectName: "confirmFinish"
            width: parent.width
            text: sheet.vm.texts.finishWorkout
            textColor: Theme.accentColor
            onClicked: sheet.vm.confirmFinish()
        }
    }
}

import QtQuick

// The pushed exercise: its name and the way back to the list. Its set pages, editor and
// actions come with the detail screen proper.
Item {
    id: detail
    objectName: "ExerciseDetail"
    required property var vm

    WatchButton {
        id: back
        objectName: "back"
        anchors.top: parent.top
        anchors.left: parent.left
        anchors.margins: Theme.spacing
        width: Theme.buttonHeight
        height: Theme.buttonHeight * 0.8
        radius: height / 2
        text: "\u2039"
        onClicked: detail.vm.closeDetail()
    }
    Text {
        anchors.left: back.right
        anchors.right: parent.right
        anchors.verticalCenter: back.verticalCenter
        anchors.leftMargin: Theme.spacing
        text: detail.vm.detailTitle
        color: Theme.primaryText
        font.pixelSize: Theme.headline
        font.weight: Font.Bold
        elide: Text.ElideRight
        maximumLineCount: 1
    }
}

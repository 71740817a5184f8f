import QtQuick

// The editor of one set: the exercise's name, then a block per value the exercise records.
// A keypad field opens the full-screen keypad.
Column {
    id: view
    required property var dvm
    spacing: Theme.spacing

    Row {
        width: view.width
        spacing: Theme.spacing
        Text {
            width: view.width - (note.visible ? note.width + Theme.spacing : 0)
            anchors.verticalCenter: parent.verticalCenter
            text: view.dvm.exerciseName
            color: Theme.secondaryText
            font.pixelSize: Theme.subheadline
            horizontalAlignment: Text.AlignHCenter
            elide: Text.ElideRight
            maximumLineCount: 1
        }
        // The phone's note on the exercise, when it has one.
        WatchButton {
            id: note
            objectName: "noteButton"
            visible: view.dvm.showsNote
            width: Theme.buttonHeight
            height: Theme.buttonHeight * 0.7
            text: "\u270e"
            onClicked: view.dvm.openNote()
        }
    }
    Flow {
        width: view.width
        spacing: Theme.spacing
        Repeater {
            model: view.dvm.fields
            Column {
                required property string kind
                required property string label
                required property string value
                required property bool faded
                required property bool keypad
                required property string bandColor
                width: (view.width - Theme.spacing) / 2
                Text {
                    width: parent.width
                    text: label
                    color: Theme.primaryText
                    font.pixelSize: Theme.footnote
                    font.weight: Font.Bold
                    horizontalAlignment: Text.AlignHCenter
                }
                WatchButton {
                    objectName: "field:" + kind
                    width: parent.width
                    text: value
                    textColor: bandColor.length > 0 ? bandColor : Theme.primaryText
                    opacity: faded ? 0.5 : 1
                    border.width: bandColor.length > 0 ? Theme.unit : 0
                    border.color: bandColor.length > 0 ? bandColor : "transparent"
                    onClicked: view.dvm.tapField(kind)
                }
            }
        }
    }
}

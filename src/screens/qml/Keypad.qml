import QtQuick

// The full-screen keypad of a field: the entered text (faded until the first key replaces it)
// above the keys; tapping the text closes it and sends the edit.
Rectangle {
    id: keypad
    objectName: "Keypad"
    required property var dvm
    color: Theme.background

    WatchButton {
        id: entered
        objectName: "keypadDone"
        anchors.top: parent.top
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.margins: Theme.spacing
        height: Theme.buttonHeight
        color: "transparent"
        text: keypad.dvm.keypadText
        opacity: keypad.dvm.keypadTextOpacity
        onClicked: keypad.dvm.closeKeypad()
    }
    Grid {
        anchors.top: entered.bottom
        anchors.bottom: parent.bottom
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.margins: Theme.spacing
        columns: 3
        spacing: Theme.spacing
        Repeater {
            model: keypad.dvm.keys
            WatchButton {
                required property string name
                required property string face
                objectName: name.length > 0 ? "keypadKey:" + name : ""
                width: (keypad.width - 4 * Theme.spacing) / 3
                height: (keypad.height - entered.height - 6 * Theme.spacing) / 4
                visible: name.length > 0
                text: face
                onClicked: keypad.dvm.pressKey(name)
            }
        }
    }
}

import QtQuick

// The exercise's note from the phone, to read between sets.
Item {
    id: note
    objectName: "NoteSheet"
    required property var dvm

    Text {
        id: heading
        width: parent.width
        text: note.dvm.texts.note
        color: Theme.primaryText
        font.pixelSize: Theme.headline
        font.weight: Font.Bold
        horizontalAlignment: Text.AlignHCenter
    }
    Flickable {
        anchors.top: heading.bottom
        anchors.bottom: parent.bottom
        anchors.topMargin: Theme.spacing
        width: parent.width
        contentHeight: body.height
        clip: true
        Text {
            id: body
            width: parent.width
            text: note.dvm.noteText
            color: Theme.primaryText
            font.pixelSize: Theme.body
            wrapMode: Text.Wrap
        }
    }
}

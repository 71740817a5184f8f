import QtQuick

// A sheet over the screen: its content below a close button, dismissed by that button or by
// swiping it down.
Rectangle {
    id: sheet
    default property alias content: body.data
    signal dismissed()

    color: Theme.sheetBackground

    // Swiping down anywhere the content does not take the finger itself: let go past a quarter
    // of the height and the sheet goes.
    MouseArea {
        id: swipe
        anchors.fill: parent
        property real startY: 0
        property real pulled: 0
        // In window coordinates: the sheet itself follows the finger.
        onPressed: mouse => { startY = mapToItem(null, mouse.x, mouse.y).y; pulled = 0; }
        onPositionChanged: mouse => pulled = Math.max(0, mapToItem(null, mouse.x, mouse.y).y - startY)
        onReleased: {
            if (pulled > sheet.height / 4)
                sheet.dismissed();
            pulled = 0;
        }
        onCanceled: pulled = 0
    }
    transform: Translate { y: swipe.pulled }

    WatchButton {
        id: close
        objectName: "closeSheet"
        anchors.top: parent.top
        anchors.left: parent.left
        anchors.margins: Theme.spacing
        width: Theme.buttonHeight
        height: Theme.buttonHeight * 0.8
        radius: height / 2
        text: "\u2715"
        onClicked: sheet.dismissed()
    }
    Item {
        id: body
        anchors.top: close.bottom
        anchors.bottom: parent.bottom
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.margins: Theme.spacing
    }

}

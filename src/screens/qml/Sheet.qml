import QtQuick

// A sheet over the screen: its content below a close button, dismissed by that button or by
// swiping it down.
Rectangle {
    id: sheet
    default property alias content: body.data
    signal dismissed()

    color: Theme.sheetBackground

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

    // Follows the finger down; let go past a quarter of the height and the sheet goes.
    DragHandler {
        id: drag
        target: null
        yAxis.enabled: true
        xAxis.enabled: false
        onActiveChanged: {
            if (!active && translation.y > sheet.height / 4)
                sheet.dismissed();
        }
    }
    transform: Translate { y: drag.active ? Math.max(0, drag.translation.y) : 0 }
}

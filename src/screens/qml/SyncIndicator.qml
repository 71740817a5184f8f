import QtQuick

// Changes the phone has not confirmed yet: a calm glyph and their number, in the corner of the
// root screen. Its logic decides when it shows; it never animates. A tap opens the sync screen.
Rectangle {
    id: indicator
    objectName: "syncIndicator"
    required property var syncVm

    visible: syncVm.indicatorShown
    implicitWidth: row.implicitWidth + 2 * Theme.padding
    implicitHeight: Theme.buttonHeight * 0.7
    radius: height / 2
    color: Theme.surface

    Row {
        id: row
        anchors.centerIn: parent
        spacing: Theme.spacing / 2
        Symbol {
            anchors.verticalCenter: parent.verticalCenter
            kind: "sync"
            size: Theme.footnote
            tint: Theme.secondaryText
        }
        Text {
            anchors.verticalCenter: parent.verticalCenter
            text: indicator.syncVm.indicatorText
            color: Theme.secondaryText
            font.pixelSize: Theme.footnote
            font.weight: Font.DemiBold
        }
    }
    // A finger needs more room than the glyph takes.
    MouseArea {
        anchors.fill: parent
        anchors.margins: -Theme.spacing
        onClicked: indicator.syncVm.open()
    }
}

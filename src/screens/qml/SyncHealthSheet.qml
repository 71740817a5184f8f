import QtQuick

// What has not reached the phone yet: how many changes wait and what holds them back, then each,
// oldest first, with how long it has waited and how it is sent; below them the link's state and
// "Send Now".
Item {
    id: sheet
    objectName: "SyncHealthSheet"
    required property var syncVm

    ListView {
        id: list
        objectName: "syncEntries"
        anchors.fill: parent
        spacing: Theme.spacing
        clip: true
        boundsBehavior: Flickable.StopAtBounds
        model: sheet.syncVm.rows

        header: Column {
            width: list.width
            spacing: Theme.spacing
            bottomPadding: Theme.spacing
            Text {
                width: parent.width
                text: sheet.syncVm.summary
                color: Theme.primaryText
                font.pixelSize: Theme.headline
                wrapMode: Text.WordWrap
            }
            Text {
                width: parent.width
                visible: text.length > 0
                text: sheet.syncVm.heldBack
                color: Theme.primaryText
                font.pixelSize: Theme.footnote
                wrapMode: Text.WordWrap
            }
        }

        footer: Column {
            width: list.width
            spacing: Theme.spacing
            topPadding: Theme.spacing
            Text {
                width: parent.width
                text: sheet.syncVm.reachability
                color: Theme.secondaryText
                font.pixelSize: Theme.footnote
                wrapMode: Text.WordWrap
            }
            Text {
                width: parent.width
                text: sheet.syncVm.lastConfirmed
                color: Theme.secondaryText
                font.pixelSize: Theme.footnote
                wrapMode: Text.WordWrap
            }
            WatchButton {
                objectName: "sendNow"
                width: parent.width
                text: sheet.syncVm.sendNowText
                onClicked: sheet.syncVm.sendNow()
            }
        }

        delegate: Rectangle {
            required property string title
            required property string detail
            width: list.width
            height: entry.implicitHeight + 2 * Theme.spacing
            radius: Theme.radius
            color: Theme.surface
            Column {
                id: entry
                anchors.verticalCenter: parent.verticalCenter
                x: Theme.padding
                width: parent.width - 2 * Theme.padding
                Text {
                    width: parent.width
                    text: title
                    color: Theme.primaryText
                    font.pixelSize: Theme.subheadline
                    wrapMode: Text.WordWrap
                }
                Text {
                    width: parent.width
                    text: detail
                    color: Theme.secondaryText
                    font.pixelSize: Theme.caption
                    wrapMode: Text.WordWrap
                }
            }
        }
    }
}

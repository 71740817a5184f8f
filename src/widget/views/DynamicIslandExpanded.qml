import QtQuick

// The expanded Dynamic Island: leading, trailing and bottom regions over the island's black.
Item {
    id: view
    property var activity: null
    visible: !!activity

    Row {
        id: leading
        objectName: "expandedLeading"
        x: 20; y: 14
        spacing: 8
        Image {
            width: 24; height: 24
            source: Assets.icon
            sourceSize: Qt.size(48, 48)
        }
        Text {
            anchors.verticalCenter: parent.verticalCenter
            text: view.activity ? view.activity.clock : ""
            color: Assets.primaryText
            font.pixelSize: 16
            font.bold: true
        }
    }

    Text {
        id: trailing
        objectName: "expandedTrailing"
        anchors.right: parent.right
        anchors.rightMargin: 20
        y: 14
        height: 24
        verticalAlignment: Text.AlignVCenter
        visible: !!view.activity && view.activity.hasRest
        text: view.activity ? "Rest " + view.activity.restCountdown : ""
        color: Assets.accentColor
        font.pixelSize: 16
        font.bold: true
    }

    Column {
        id: bottom
        objectName: "expandedBottom"
        x: 20
        y: 48
        width: view.width - 40
        spacing: 4
        Text {
            width: parent.width
            text: view.activity ? view.activity.nextSetName : ""
            color: Assets.primaryText
            font.pixelSize: 18
            font.bold: true
            elide: Text.ElideRight
        }
        Text {
            width: parent.width
            text: view.activity ? view.activity.nextSetInfo : ""
            color: Assets.secondaryText
            font.pixelSize: 15
            elide: Text.ElideRight
        }
        Item { width: 1; height: 6 }
        ProgressBars {
            width: parent.width
            values: view.activity ? view.activity.progress : []
        }
    }
}

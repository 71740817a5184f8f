import QtQuick
import QtQuick.Controls.Basic

// The live activity on the lock screen. The host sets `activity` ({name, hasRest,
// restCountdown, clock, nextSetName, nextSetInfo, progress, completing}), whose countdown texts
// it advances every second; the view only lays them out.
Rectangle {
    id: view
    property var activity: null
    signal completeSet()

    color: Assets.primaryBackground
    radius: 0

    Item {
        id: content
        anchors.fill: parent
        anchors.margins: 14
        visible: !!view.activity

        Row {
            id: header
            width: parent.width
            height: 24
            spacing: 8
            Image {
                width: 24; height: 24
                source: Assets.icon
                sourceSize: Qt.size(48, 48)
            }
            Text {
                anchors.verticalCenter: parent.verticalCenter
                width: parent.width - 24 - clock.width - 16
                text: view.activity ? view.activity.name : ""
                color: Assets.secondaryText
                font.pixelSize: 14
                font.bold: true
                elide: Text.ElideRight
            }
            Text {
                id: clock
                objectName: "workoutClock"
                anchors.verticalCenter: parent.verticalCenter
                text: view.activity ? view.activity.clock : ""
                color: Assets.primaryText
                font.pixelSize: 15
                font.bold: true
            }
        }

        // The rest beside the button a thumb reaches, the next set across the whole width.
        Item {
            id: restRow
            anchors.top: header.bottom
            anchors.topMargin: 6
            width: parent.width
            height: 40
            Text {
                objectName: "restLine"
                anchors.verticalCenter: parent.verticalCenter
                width: parent.width - button.width - 10
                visible: !!view.activity && view.activity.hasRest
                text: view.activity ? "Rest " + view.activity.restCountdown : ""
                color: Assets.accentColor
                font.pixelSize: 24
                font.bold: true
                elide: Text.ElideRight
            }
            Button {
                id: button
                objectName: "completeSetButton"
                anchors.right: parent.right
                width: 132
                height: 40
                enabled: !!view.activity && !view.activity.completing
                onClicked: view.completeSet()
                contentItem: Text {
                    text: "Complete Set"
                    color: "#ffffff"
                    font.pixelSize: 15
                    font.bold: true
                    horizontalAlignment: Text.AlignHCenter
                    verticalAlignment: Text.AlignVCenter
                }
                background: Rectangle {
                    radius: 20
                    color: Assets.accentColor
                    opacity: button.enabled ? (button.down ? 0.7 : 1) : 0.45
                }
            }
        }

        Column {
            anchors.top: restRow.bottom
            anchors.topMargin: 2
            width: parent.width
            Text {
                width: parent.width
                text: view.activity ? view.activity.nextSetName : ""
                color: Assets.primaryText
                font.pixelSize: 17
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
        }

        ProgressBars {
            id: bars
            anchors.bottom: parent.bottom
            width: parent.width
            values: view.activity ? view.activity.progress : []
        }
    }
}

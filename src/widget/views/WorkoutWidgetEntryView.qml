import QtQuick

// The home-screen widget: the next workout's title, status and exercises. The host sets
// `family` and `entry` ({title, status, exercises: [names]}) and the size.
Rectangle {
    id: view
    property string family: "systemSmall"
    property var entry: ({ title: "", status: "", exercises: [] })

    color: Assets.primaryBackground

    Loader {
        anchors.fill: parent
        anchors.margins: 14
        sourceComponent: view.family === "systemSmall" ? small
                       : view.family === "systemMedium" ? medium : fallback
    }

    component Status: Row {
        spacing: 6
        Image {
            width: 24; height: 24
            source: Assets.icon
            sourceSize: Qt.size(48, 48)
            smooth: true
        }
        Text {
            anchors.verticalCenter: parent.verticalCenter
            text: view.entry.status.toUpperCase()
            color: Assets.accentColor
            font.pixelSize: 12
            font.bold: true
            font.letterSpacing: 0.5
            elide: Text.ElideRight
            width: Math.min(implicitWidth, parent.width - 30)
        }
    }

    Component {
        id: small
        Item {
            Status { id: status; width: parent.width }
            Text {
                id: title
                anchors.top: status.bottom
                anchors.topMargin: 6
                width: parent.width
                text: view.entry.title
                color: Assets.primaryText
                font.pixelSize: 17
                font.bold: true
                wrapMode: Text.Wrap
                maximumLineCount: 2
                elide: Text.ElideRight
            }
            ExerciseList {
                anchors.top: title.bottom
                anchors.topMargin: 6
                anchors.bottom: parent.bottom
                width: parent.width
                names: view.entry.exercises
                pixelSize: 13
            }
        }
    }

    Component {
        id: medium
        Row {
            spacing: 14
            Item {
                width: 150
                height: parent.height
                Status { id: mediumStatus; width: parent.width }
                Text {
                    anchors.top: mediumStatus.bottom
                    anchors.topMargin: 8
                    width: parent.width
                    text: view.entry.title
                    color: Assets.primaryText
                    font.pixelSize: 20
                    font.bold: true
                    wrapMode: Text.Wrap
                    maximumLineCount: 3
                    elide: Text.ElideRight
                }
                Text {
                    anchors.bottom: parent.bottom
                    text: view.entry.exercises.length === 1 ? "1 exercise"
                          : view.entry.exercises.length + " exercises"
                    color: Assets.secondaryText
                    font.pixelSize: 12
                }
            }
            Rectangle { width: 1; height: parent.height; color: Assets.track }
            ExerciseList {
                width: parent.width - 150 - 1 - 28
                height: parent.height
                names: view.entry.exercises
                pixelSize: 14
            }
        }
    }

    Component {
        id: fallback
        Column {
            spacing: 8
            Status { width: parent.width }
            Text {
                width: parent.width
                text: view.entry.title
                color: Assets.primaryText
                font.pixelSize: 20
                font.bold: true
                wrapMode: Text.Wrap
                maximumLineCount: 2
                elide: Text.ElideRight
            }
            ExerciseList {
                width: parent.width
                height: parent.height - y
                names: view.entry.exercises
                pixelSize: 15
            }
        }
    }
}

import QtQuick

// The host's window: the plug-in's views in the frames the phone would give them. Only the
// frames and their captions are the host's; everything inside comes from the plug-in's folder.
Rectangle {
    id: stage
    property url views
    property var entry: ({ title: "", status: "", exercises: [] })
    property var activity: null
    // A family beyond the two the widget declares, drawn only when set (tests, screenshots).
    property string extraFamily: ""
    signal completeSetRequested()

    width: 606
    height: column.height + 40
    color: "#dfe3e8"

    component Caption: Text {
        color: "#4a5561"
        font.pixelSize: 13
        font.bold: true
    }

    component View: Loader {
        property var viewProperties: ({})
        onLoaded: {
            for (const key in viewProperties)
                item[key] = Qt.binding(viewProperties[key])
        }
    }

    Column {
        id: column
        x: 24
        y: 20
        spacing: 10

        Caption { text: "Home Screen" }
        Item {
            objectName: "homeSection"
            width: 558
            height: homeRow.height
            Row {
                id: homeRow
                spacing: 24
                View {
                    objectName: "systemSmall"
                    width: 170; height: 170
                    source: stage.views + "/WorkoutWidgetEntryView.qml"
                    viewProperties: ({ family: () => "systemSmall", entry: () => stage.entry,
                                       radius: () => 22 })
                }
                View {
                    objectName: "systemMedium"
                    width: 364; height: 170
                    source: stage.views + "/WorkoutWidgetEntryView.qml"
                    viewProperties: ({ family: () => "systemMedium", entry: () => stage.entry,
                                       radius: () => 22 })
                }
            }
        }
        View {
            objectName: "extraFamily"
            active: stage.extraFamily.length > 0
            visible: active
            width: 364; height: 382
            source: stage.views + "/WorkoutWidgetEntryView.qml"
            viewProperties: ({ family: () => stage.extraFamily, entry: () => stage.entry,
                               radius: () => 22 })
        }

        Caption { text: "Lock Screen" }
        Item {
            objectName: "lockScreenSection"
            width: 364
            height: 160
            Rectangle {
                anchors.fill: parent
                radius: 22
                color: "#9aa4ae"
                visible: !stage.activity
                Caption { anchors.centerIn: parent; text: "No live activity"; color: "#ffffff" }
            }
            View {
                id: lockScreen
                objectName: "lockScreen"
                anchors.fill: parent
                visible: !!stage.activity
                source: stage.views + "/LockScreenView.qml"
                viewProperties: ({ activity: () => stage.activity, radius: () => 22 })
                Connections {
                    target: lockScreen.item
                    ignoreUnknownSignals: true
                    function onCompleteSet() { stage.completeSetRequested() }
                }
            }
        }

        Caption { text: "Dynamic Island" }
        Column {
            objectName: "dynamicIslandSection"
            spacing: 12
            Rectangle {
                width: 364; height: 150
                radius: 44
                color: "#000000"
                View {
                    objectName: "expanded"
                    anchors.fill: parent
                    anchors.margins: 6
                    visible: !!stage.activity
                    source: stage.views + "/DynamicIslandExpanded.qml"
                    viewProperties: ({ activity: () => stage.activity })
                }
            }
            Row {
                spacing: 24
                Rectangle {
                    width: 236; height: 37
                    radius: 18.5
                    color: "#000000"
                    View {
                        objectName: "compactLeading"
                        x: 10
                        width: 24; height: 24
                        anchors.verticalCenter: parent.verticalCenter
                        visible: !!stage.activity
                        source: stage.views + "/DynamicIslandCompactLeading.qml"
                        viewProperties: ({ activity: () => stage.activity })
                    }
                    View {
                        objectName: "compactTrailing"
                        anchors.right: parent.right
                        anchors.rightMargin: 12
                        anchors.verticalCenter: parent.verticalCenter
                        width: 46; height: 24
                        visible: !!stage.activity
                        source: stage.views + "/DynamicIslandCompactTrailing.qml"
                        viewProperties: ({ activity: () => stage.activity })
                    }
                }
                Rectangle {
                    width: Math.max(37, minimal.width + 16); height: 37
                    radius: 18.5
                    color: "#000000"
                    View {
                        id: minimal
                        objectName: "minimal"
                        anchors.centerIn: parent
                        visible: !!stage.activity
                        source: stage.views + "/DynamicIslandMinimal.qml"
                        viewProperties: ({ activity: () => stage.activity })
                    }
                }
            }
        }
    }
}

import QtQuick
import QtQuick.Controls.Basic

// The running workout: the metrics header, a row per exercise, "Add Exercise" and the finish
// button. Swiping a named exercise's row from the trailing edge reveals its trash button.
Item {
    id: list
    required property var vm

    // Scrolls so that the exercise's row is in view; false when the list has no such row.
    function bringIntoView(exerciseId) {
        const index = list.vm.exercises.indexOf(exerciseId);
        if (index < 0)
            return false;
        rows.positionViewAtIndex(index, ListView.Contain);
        return true;
    }
    function bringFooterIntoView() {
        rows.positionViewAtEnd();
    }

    Connections {
        target: list.vm
        function onScrollTargetChanged() {
            if (list.vm.scrollTarget.length > 0)
                list.bringIntoView(list.vm.scrollTarget);
        }
    }

    ListView {
        id: rows
        objectName: "exerciseList"
        anchors.fill: parent
        anchors.leftMargin: Theme.spacing
        anchors.rightMargin: Theme.spacing
        spacing: Theme.spacing
        clip: true
        boundsBehavior: Flickable.StopAtBounds
        model: list.vm.exercises

        header: Item {
            width: rows.width
            height: metrics.height + 2 * Theme.spacing
            MetricsHeader {
                id: metrics
                anchors.centerIn: parent
                heartRate: list.vm.heartRate
                energy: list.vm.energy
            }
        }

        delegate: SwipeDelegate {
            id: row
            required property string exerciseId
            required property string title
            required property string detail
            required property bool placeholder
            required property string stripeColor
            objectName: "exerciseRow:" + exerciseId
            width: rows.width
            padding: 0
            swipe.enabled: !placeholder
            swipe.onCompleted: list.vm.deleteExercise(exerciseId)
            onClicked: placeholder ? list.vm.openPicker(exerciseId) : list.vm.openExercise(exerciseId)

            background: Rectangle {
                color: row.pressed ? Theme.buttonPressed : Theme.surface
                radius: Theme.radius
                Rectangle {
                    width: row.stripeColor.length > 0 ? Theme.unit : 0
                    height: parent.height
                    color: row.stripeColor.length > 0 ? row.stripeColor : "transparent"
                }
            }
            contentItem: Column {
                leftPadding: Theme.padding
                rightPadding: Theme.padding
                topPadding: Theme.spacing
                bottomPadding: Theme.spacing
                Text {
                    width: row.width - 2 * Theme.padding
                    text: row.title
                    color: row.placeholder ? Theme.accentColor : Theme.primaryText
                    font.pixelSize: Theme.body
                    font.weight: Font.DemiBold
                    elide: Text.ElideRight
                    maximumLineCount: 1
                    topPadding: Theme.spacing
                    bottomPadding: Theme.spacing
                }
                Text {
                    width: row.width - 2 * Theme.padding
                    visible: row.detail.length > 0
                    text: row.detail
                    color: Theme.secondaryText
                    font.pixelSize: Theme.caption
                    elide: Text.ElideRight
                    maximumLineCount: 1
                    bottomPadding: Theme.spacing
                }
            }
            swipe.right: Rectangle {
                objectName: "deleteExercise:" + row.exerciseId
                width: Theme.buttonHeight * 1.3
                height: row.height
                anchors.right: parent.right
                radius: Theme.radius
                color: Theme.destructive
                Symbol {
                    anchors.centerIn: parent
                    kind: "trash"
                    tint: Theme.primaryText
                    size: Theme.title3
                }
                MouseArea {
                    anchors.fill: parent
                    onClicked: list.vm.deleteExercise(row.exerciseId)
                }
            }
        }

        footer: Column {
            width: rows.width
            topPadding: Theme.spacing
            bottomPadding: Theme.padding
            spacing: Theme.spacing
            WatchButton {
                objectName: "addExercise"
                width: parent.width
                text: list.vm.texts.addExercise
                onClicked: list.vm.openPicker("")
            }
            WatchButton {
                objectName: "finishWorkout"
                width: parent.width
                text: list.vm.finishButtonLabel
                textColor: Theme.accentColor
                onClicked: list.vm.finishTapped()
            }
        }
    }
}

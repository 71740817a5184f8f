import QtQuick

// The rest between sets: what runs, the time left, and the set that comes next.
Item {
    id: rest
    objectName: "RestTimer"
    required property var vm

    Column {
        anchors.verticalCenter: parent.verticalCenter
        width: parent.width
        spacing: Theme.spacing
        Text {
            width: parent.width
            text: rest.vm.restTitle
            color: Theme.primaryText
            font.pixelSize: Theme.headline
            horizontalAlignment: Text.AlignHCenter
            elide: Text.ElideRight
            maximumLineCount: 1
        }
        Text {
            objectName: "timeLeft"
            width: parent.width
            text: rest.vm.restTimeLeft
            color: Theme.accentColor
            font.pixelSize: Theme.largeTime
            font.weight: Font.DemiBold
            horizontalAlignment: Text.AlignHCenter
        }
        Column {
            anchors.horizontalCenter: parent.horizontalCenter
            spacing: Theme.spacing
            Repeater {
                model: rest.vm.restPlates
                PlateRow {}
            }
        }
        Column {
            width: parent.width
            visible: rest.vm.restNextExercise.length > 0
            Text {
                width: parent.width
                text: rest.vm.texts.next
                color: Theme.textSubdued
                font.pixelSize: Theme.caption
                horizontalAlignment: Text.AlignHCenter
            }
            Text {
                width: parent.width
                text: rest.vm.restNextExercise
                color: Theme.primaryText
                font.pixelSize: Theme.body
                horizontalAlignment: Text.AlignHCenter
                elide: Text.ElideRight
                maximumLineCount: 1
            }
            Text {
                width: parent.width
                text: rest.vm.restNextLoad
                color: Theme.secondaryText
                font.pixelSize: Theme.subheadline
                horizontalAlignment: Text.AlignHCenter
                elide: Text.ElideRight
                maximumLineCount: 1
            }
        }
    }
}

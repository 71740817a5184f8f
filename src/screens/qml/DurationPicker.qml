import QtQuick

// The Time picker of a timed set: the crown or a vertical swipe moves through the choices in
// 5 s steps, "Done" writes the chosen time to the set.
Item {
    id: picker
    objectName: "DurationPicker"
    required property var dvm

    Text {
        id: label
        width: parent.width
        text: picker.dvm.texts.durationLabel
        color: Theme.secondaryText
        font.pixelSize: Theme.subheadline
        horizontalAlignment: Text.AlignHCenter
    }
    Column {
        id: wheel
        anchors.top: label.bottom
        anchors.bottom: done.top
        anchors.left: parent.left
        anchors.right: parent.right
        Repeater {
            model: [-1, 0, 1]
            Text {
                required property int modelData
                width: wheel.width
                height: wheel.height / 3
                text: picker.dvm.durationChoiceText(picker.dvm.durationIndex + modelData)
                color: modelData === 0 ? Theme.accentColor : Theme.textSubdued
                font.pixelSize: modelData === 0 ? Theme.largeTime : Theme.title3
                font.weight: modelData === 0 ? Font.DemiBold : Font.Normal
                horizontalAlignment: Text.AlignHCenter
                verticalAlignment: Text.AlignVCenter
            }
        }
    }
    MouseArea {
        anchors.fill: wheel
        property real startY: 0
        onPressed: mouse => startY = mouse.y
        onReleased: mouse => {
            const steps = Math.round((startY - mouse.y) / (wheel.height / 6));
            picker.dvm.durationIndex = Math.max(0, Math.min(picker.dvm.durationChoiceCount - 1,
                                                            picker.dvm.durationIndex + steps));
        }
    }
    // Turning the crown up goes back to shorter times, as a list scrolls.
    WheelHandler {
        onWheel: event => picker.dvm.durationIndex = Math.max(0, Math.min(
            picker.dvm.durationChoiceCount - 1,
            picker.dvm.durationIndex - Math.round(event.angleDelta.y / 120)))
    }
    WatchButton {
        id: done
        objectName: "durationDone"
        anchors.bottom: parent.bottom
        width: parent.width
        text: picker.dvm.texts.durationDone
        color: Theme.accentColor
        textColor: Theme.background
        onClicked: picker.dvm.durationDone()
    }
}

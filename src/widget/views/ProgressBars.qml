import QtQuick
import QtQuick.Controls.Basic

// One linear bar per value, in order, sharing the width; none for no values.
Row {
    id: bars
    property var values: []
    property real barHeight: 6
    spacing: 4
    height: values.length > 0 ? barHeight : 0

    Repeater {
        model: bars.values
        ProgressBar {
            objectName: "progressBar"
            width: (bars.width - bars.spacing * (bars.values.length - 1)) / bars.values.length
            height: bars.barHeight
            from: 0
            to: 1
            value: modelData
            background: Rectangle { radius: 3; color: Assets.track }
            contentItem: Item {
                Rectangle {
                    width: parent.width * Math.min(1, Math.max(0, modelData))
                    height: parent.height
                    radius: 3
                    color: Assets.accentColor
                }
            }
        }
    }
}

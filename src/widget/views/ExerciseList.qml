import QtQuick

// Exercise names one to a line: as many whole lines as fit, the rest summed up as "+N more", so
// that no line is ever cut through its glyphs.
Item {
    id: list
    property var names: []
    property int pixelSize: 13
    property color bulletColor: Assets.accentColor

    readonly property real rowHeight: Math.ceil(metrics.height) + 3
    readonly property int capacity: Math.max(0, Math.floor(height / rowHeight))
    readonly property bool overflows: names.length > capacity
    readonly property int shown: overflows ? Math.max(0, capacity - 1) : names.length

    clip: true

    FontMetrics { id: metrics; font.pixelSize: list.pixelSize }

    Column {
        width: list.width
        Repeater {
            model: list.shown
            Row {
                width: list.width
                height: list.rowHeight
                spacing: 6
                Rectangle {
                    width: 4; height: 4; radius: 2
                    color: list.bulletColor
                    anchors.verticalCenter: parent.verticalCenter
                }
                Text {
                    width: parent.width - 10
                    anchors.verticalCenter: parent.verticalCenter
                    text: list.names[index]
                    color: Assets.primaryText
                    font.pixelSize: list.pixelSize
                    elide: Text.ElideRight
                    maximumLineCount: 1
                }
            }
        }
        Text {
            visible: list.overflows && list.capacity > 0
            height: list.rowHeight
            verticalAlignment: Text.AlignVCenter
            leftPadding: 10
            text: "+" + (list.names.length - list.shown) + " more"
            color: Assets.secondaryText
            font.pixelSize: list.pixelSize - 1
        }
    }
}

import QtQuick

// One plate per side: a disc in the plate's colours with its weight, then "x" and the count.
Row {
    id: row
    required property string weight
    required property string count
    required property string dark
    required property string light
    spacing: Theme.padding

    Rectangle {
        width: 36 * Theme.unit
        height: width
        radius: width / 2
        color: row.dark
        border.color: row.light
        border.width: 2 * Theme.unit
        Text {
            anchors.centerIn: parent
            text: row.weight
            color: Theme.primaryText
            font.pixelSize: Theme.footnote
            font.weight: Font.Bold
        }
    }
    Text {
        anchors.verticalCenter: parent.verticalCenter
        text: row.count
        color: Theme.primaryText
        font.pixelSize: Theme.headline
        font.weight: Font.DemiBold
    }
}

import QtQuick

// The running health session's heart rate and energy, each a symbol and a whole number.
Row {
    id: header
    property string heartRate: "0"
    property string energy: "0"
    spacing: Theme.padding * 2

    Row {
        spacing: Theme.spacing
        Symbol { kind: "heart"; tint: Theme.heart; size: Theme.title3; anchors.verticalCenter: parent.verticalCenter }
        Text {
            objectName: "heartRate"
            text: header.heartRate
            color: Theme.heart
            font.pixelSize: Theme.title3
            font.weight: Font.DemiBold
            anchors.verticalCenter: parent.verticalCenter
        }
    }
    Row {
        spacing: Theme.spacing
        Symbol { kind: "flame"; tint: Theme.energy; size: Theme.title3; anchors.verticalCenter: parent.verticalCenter }
        Text {
            objectName: "energy"
            text: header.energy
            color: Theme.energy
            font.pixelSize: Theme.title3
            font.weight: Font.DemiBold
            anchors.verticalCenter: parent.verticalCenter
        }
    }
}

import QtQuick

// The plates to load per side for the set's weight, in their colours.
Item {
    id: calculator
    objectName: "PlateCalculator"
    required property var dvm

    Text {
        id: heading
        width: parent.width
        text: calculator.dvm.plateTitle
        color: Theme.primaryText
        font.pixelSize: Theme.headline
        font.weight: Font.Bold
        horizontalAlignment: Text.AlignHCenter
    }
    ListView {
        anchors.top: heading.bottom
        anchors.bottom: parent.bottom
        anchors.horizontalCenter: parent.horizontalCenter
        width: contentItem.childrenRect.width
        anchors.topMargin: Theme.spacing
        clip: true
        spacing: Theme.spacing
        model: calculator.dvm.plates
        delegate: PlateRow {}
    }
}

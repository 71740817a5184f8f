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
        anchors.bottom: notes.top
        anchors.horizontalCenter: parent.horizontalCenter
        width: contentItem.childrenRect.width
        anchors.topMargin: Theme.spacing
        clip: true
        spacing: Theme.spacing
        model: calculator.dvm.plates
        delegate: PlateRow {}
    }
    // The bar, and what the plates leave unloaded.
    Column {
        id: notes
        anchors.bottom: parent.bottom
        width: parent.width
        Repeater {
            model: calculator.dvm.plateNotes
            Text {
                required property string modelData
                required property int index
                width: notes.width
                text: modelData
                color: index === 0 ? Theme.secondaryText : Theme.energy
                font.pixelSize: Theme.subheadline
                horizontalAlignment: Text.AlignHCenter
                wrapMode: Text.Wrap
            }
        }
    }
}

import QtQuick

// The set's kind, chosen from the kinds the watch offers.
Item {
    id: options
    objectName: "SetTypeOptions"
    required property var dvm

    ListView {
        id: rows
        objectName: "setTypeList"
        anchors.fill: parent
        clip: true
        spacing: Theme.spacing
        boundsBehavior: Flickable.StopAtBounds
        model: options.dvm.setTypes
        header: Text {
            width: rows.width
            text: options.dvm.texts.setTypeOptions
            color: Theme.secondaryText
            font.pixelSize: Theme.footnote
            font.weight: Font.DemiBold
            bottomPadding: Theme.spacing
        }
        delegate: WatchButton {
            required property string name
            required property int index
            objectName: "setType:" + name
            width: rows.width
            text: name
            onClicked: options.dvm.chooseSetType(index)
        }
    }
}

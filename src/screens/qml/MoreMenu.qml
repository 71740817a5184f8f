import QtQuick

// The set's more menu: add a set, delete this one, or see the plates for its weight.
Item {
    id: menu
    objectName: "MoreMenu"
    required property var dvm

    Column {
        anchors.verticalCenter: parent.verticalCenter
        width: parent.width
        spacing: Theme.spacing
        Repeater {
            model: menu.dvm.moreMenu
            WatchButton {
                required property string title
                required property string tint
                required property int index
                objectName: "more:" + title
                width: menu.width
                radius: 12 * Theme.unit
                text: title
                color: tint === "red" ? Theme.destructive
                     : tint === "accent" ? Theme.accentColor : Theme.buttonBackground
                textColor: tint === "accent" ? Theme.background : Theme.primaryText
                onClicked: menu.dvm.chooseMore(index)
            }
        }
    }
}

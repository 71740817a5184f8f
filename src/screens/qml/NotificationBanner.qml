import QtQuick

// A fired notification over whatever is on screen: its title and body; a tap is its action.
Rectangle {
    id: banner
    objectName: "notificationBanner"
    required property var alerts
    anchors.top: parent.top
    anchors.left: parent.left
    anchors.right: parent.right
    anchors.margins: Theme.spacing
    height: texts.height + 2 * Theme.padding
    radius: Theme.radius
    color: Theme.surface
    border.color: Theme.accentColor
    border.width: Theme.unit
    visible: banner.alerts.bannerShown
    z: 100

    Column {
        id: texts
        anchors.verticalCenter: parent.verticalCenter
        x: Theme.padding
        width: parent.width - 2 * Theme.padding
        Text {
            width: parent.width
            text: banner.alerts.bannerTitle
            color: Theme.primaryText
            font.pixelSize: Theme.headline
            font.weight: Font.Bold
            elide: Text.ElideRight
            maximumLineCount: 1
        }
        Text {
            width: parent.width
            text: banner.alerts.bannerBody
            color: Theme.secondaryText
            font.pixelSize: Theme.subheadline
            wrapMode: Text.Wrap
            maximumLineCount: 2
        }
    }
    MouseArea {
        anchors.fill: parent
        onClicked: banner.alerts.tapBanner()
    }
}

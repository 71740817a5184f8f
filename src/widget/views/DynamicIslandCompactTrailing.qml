import QtQuick

// Compact trailing: the rest countdown, hours when needed, never wider than 46 points; nothing
// without a rest.
Item {
    id: view
    property var activity: null
    implicitWidth: 46
    implicitHeight: 24
    Text {
        anchors.fill: parent
        visible: !!view.activity && view.activity.hasRest
        text: view.activity ? view.activity.restCountdown : ""
        color: Assets.accentColor
        font.pixelSize: 14
        font.bold: true
        fontSizeMode: Text.HorizontalFit
        minimumPixelSize: 9
        horizontalAlignment: Text.AlignRight
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight
    }
}

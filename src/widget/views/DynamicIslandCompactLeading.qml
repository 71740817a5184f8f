import QtQuick

// Compact leading: the icon.
Item {
    property var activity: null
    implicitWidth: 24
    implicitHeight: 24
    Image {
        anchors.centerIn: parent
        visible: !!parent.activity
        width: 24; height: 24
        source: Assets.icon
        sourceSize: Qt.size(48, 48)
    }
}

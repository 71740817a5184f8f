import QtQuick

// Minimal: the fixed-width TextTimer over the rest; nothing without a rest.
Item {
    id: view
    property var activity: null
    implicitWidth: timer.width
    implicitHeight: timer.height
    TextTimer {
        id: timer
        anchors.centerIn: parent
        visible: !!view.activity && view.activity.hasRest
        text: view.activity ? view.activity.minimalTimer : ""
        measuringText: view.activity ? view.activity.measuringText : ""
        color: Assets.accentColor
        font.bold: true
    }
}

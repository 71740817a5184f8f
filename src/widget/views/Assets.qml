pragma Singleton
import QtQuick

// The plug-in's colour and image assets, by the names the views use.
QtObject {
    readonly property color accentColor: "#ff8a1f"
    readonly property color primaryBackground: "#15202c"
    readonly property color primaryText: "#ffffff"
    readonly property color secondaryText: "#a9b6c4"
    readonly property color track: "#33485c"
    readonly property url icon: Qt.resolvedUrl("Icon.png")
}

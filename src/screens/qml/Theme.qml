pragma Singleton
import QtQuick

// Colours, type sizes and spacing of the watch screens. Sizes are in watch points: a point is
// `unit` pixels, so the layout keeps its proportions on every watch size.
QtObject {
    property real unit: 2

    readonly property color background: "#000000"
    readonly property color surface: "#1c1c1e"
    readonly property color sheetBackground: "#111113"
    readonly property color primaryText: "#ffffff"
    readonly property color secondaryText: "#98989f"
    // The colour assets "TextSubdued", "AccentColor" and "PrimaryBackground" (QML property
    // names start in lower case).
    readonly property color textSubdued: "#8e8e93"
    readonly property color accentColor: "#30d158"
    readonly property color primaryBackground: "#000000"
    readonly property color buttonBackground: "#2c2c2e"
    readonly property color buttonPressed: "#48484a"
    readonly property color destructive: "#ff453a"
    readonly property color heart: "#ff375f"
    readonly property color energy: "#ff9f0a"

    readonly property real title3: 20 * unit
    readonly property real headline: 17 * unit
    readonly property real body: 17 * unit
    readonly property real subheadline: 15 * unit
    readonly property real footnote: 13 * unit
    readonly property real caption: 12 * unit
    readonly property real largeTime: 40 * unit

    readonly property real padding: 6 * unit
    readonly property real spacing: 4 * unit
    // The smallest tap target: a sweaty finger between sets must not miss.
    readonly property real buttonHeight: 44 * unit
    readonly property real radius: 10 * unit
}

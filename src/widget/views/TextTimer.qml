import QtQuick

// A countdown of fixed width: measured once from `measuringText` in its own font, so that the
// running digits never change its size. The host advances `text`.
Text {
    id: timer
    property string measuringText: ""
    readonly property real measuredWidth: measuringText.length > 0 ? metrics.advanceWidth : 0

    TextMetrics {
        id: metrics
        font: timer.font
        text: timer.measuringText
    }

    width: measuredWidth > 0 ? Math.ceil(measuredWidth) : implicitWidth
    horizontalAlignment: Text.AlignRight
    font.pixelSize: 12
}

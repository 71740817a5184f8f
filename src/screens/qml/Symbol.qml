import QtQuick

// The few symbols the screens draw ("heart", "flame", "trash", "sync"), as paths in a square of `size`.
Canvas {
    id: symbol
    property string kind
    property color tint: Theme.primaryText
    property real size: Theme.body
    width: size
    height: size
    onKindChanged: requestPaint()
    onTintChanged: requestPaint()
    onPaint: {
        const c = getContext("2d");
        const s = width;
        c.reset();
        c.fillStyle = tint;
        c.strokeStyle = tint;
        c.lineWidth = s * 0.09;
        c.beginPath();
        if (kind === "heart") {
            c.moveTo(s * 0.5, s * 0.9);
            c.bezierCurveTo(s * 0.05, s * 0.6, s * 0.0, s * 0.3, s * 0.22, s * 0.15);
            c.bezierCurveTo(s * 0.36, s * 0.06, s * 0.47, s * 0.16, s * 0.5, s * 0.28);
            c.bezierCurveTo(s * 0.53, s * 0.16, s * 0.64, s * 0.06, s * 0.78, s * 0.15);
            c.bezierCurveTo(s * 1.0, s * 0.3, s * 0.95, s * 0.6, s * 0.5, s * 0.9);
            c.fill();
        } else if (kind === "flame") {
            c.moveTo(s * 0.5, s * 0.05);
            c.bezierCurveTo(s * 0.62, s * 0.3, s * 0.85, s * 0.42, s * 0.82, s * 0.66);
            c.bezierCurveTo(s * 0.8, s * 0.86, s * 0.66, s * 0.95, s * 0.5, s * 0.95);
            c.bezierCurveTo(s * 0.32, s * 0.95, s * 0.18, s * 0.84, s * 0.18, s * 0.64);
            c.bezierCurveTo(s * 0.18, s * 0.46, s * 0.3, s * 0.38, s * 0.36, s * 0.26);
            c.bezierCurveTo(s * 0.42, s * 0.38, s * 0.46, s * 0.42, s * 0.5, s * 0.44);
            c.bezierCurveTo(s * 0.52, s * 0.3, s * 0.52, s * 0.18, s * 0.5, s * 0.05);
            c.fill();
        } else if (kind === "trash") {
            c.moveTo(s * 0.2, s * 0.28); c.lineTo(s * 0.8, s * 0.28);
            c.moveTo(s * 0.4, s * 0.28); c.lineTo(s * 0.42, s * 0.15);
            c.lineTo(s * 0.58, s * 0.15); c.lineTo(s * 0.6, s * 0.28);
            c.moveTo(s * 0.27, s * 0.34); c.lineTo(s * 0.32, s * 0.88);
            c.lineTo(s * 0.68, s * 0.88); c.lineTo(s * 0.73, s * 0.34);
            c.stroke();
        } else if (kind === "sync") {
            // Two arrows chasing each other round a circle.
            c.arc(s * 0.5, s * 0.5, s * 0.34, Math.PI * 1.15, Math.PI * 1.95);
            c.moveTo(s * 0.84, s * 0.18); c.lineTo(s * 0.84, s * 0.4); c.lineTo(s * 0.62, s * 0.4);
            c.moveTo(s * 0.84, s * 0.5);
            c.arc(s * 0.5, s * 0.5, s * 0.34, Math.PI * 0.15, Math.PI * 0.95);
            c.moveTo(s * 0.16, s * 0.82); c.lineTo(s * 0.16, s * 0.6); c.lineTo(s * 0.38, s * 0.6);
            c.stroke();
        }
    }
}

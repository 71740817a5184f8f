import QtQuick

// One exercise of the running workout: a page per set (the crown, a vertical swipe or the next
// button move between them), the set's editor, the set's kind badge, the more menu and the
// action button. Its sheets and the keypad cover it while they are open.
Item {
    id: detail
    objectName: "ExerciseDetail"
    required property var vm
    required property var dvm

    // The header: back, the page title, the set's kind badge.
    WatchButton {
        id: back
        objectName: "back"
        anchors.top: parent.top
        anchors.left: parent.left
        anchors.margins: Theme.spacing
        width: Theme.buttonHeight
        height: Theme.buttonHeight * 0.8
        radius: height / 2
        text: "\u2039"
        onClicked: detail.vm.closeDetail()
    }
    Text {
        anchors.left: back.right
        anchors.right: badge.left
        anchors.verticalCenter: back.verticalCenter
        anchors.leftMargin: Theme.spacing
        text: detail.dvm.title
        color: Theme.primaryText
        font.pixelSize: Theme.headline
        font.weight: Font.Bold
        elide: Text.ElideRight
        maximumLineCount: 1
    }
    WatchButton {
        id: badge
        objectName: "setBadge"
        anchors.top: parent.top
        anchors.right: parent.right
        anchors.margins: Theme.spacing
        width: Theme.buttonHeight * 0.8
        height: width
        radius: width / 2
        visible: detail.dvm.hasSets
        color: detail.dvm.badgeWarns ? Theme.destructive : Theme.primaryText
        textColor: Theme.background
        text: detail.dvm.badge
        onClicked: detail.dvm.openSetTypes()
    }

    // Without sets: add one, or delete the exercise.
    Column {
        anchors.centerIn: parent
        width: parent.width - 2 * Theme.padding
        spacing: Theme.spacing
        visible: !detail.dvm.hasSets
        WatchButton {
            objectName: "addSet"
            width: parent.width
            text: detail.dvm.texts.addSet
            textColor: Theme.accentColor
            onClicked: detail.dvm.addSet()
        }
        WatchButton {
            objectName: "deleteExercise"
            width: parent.width
            text: detail.dvm.texts.deleteExercise
            textColor: Theme.destructive
            onClicked: detail.dvm.deleteExercise()
        }
    }

    // The set of the page shown.
    SetView {
        id: setView
        anchors.top: back.bottom
        anchors.bottom: toolbar.top
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.margins: Theme.spacing
        visible: detail.dvm.hasSets
        dvm: detail.dvm
    }
    // Pages go by a vertical swipe over the set or by the crown.
    MouseArea {
        anchors.fill: setView
        z: -1
        property real startY: 0
        onPressed: mouse => startY = mouse.y
        onReleased: mouse => {
            const moved = mouse.y - startY;
            if (Math.abs(moved) > height / 5)
                detail.dvm.page = detail.dvm.page + (moved < 0 ? 1 : -1);
        }
    }
    WheelHandler {
        target: null
        // Up goes back to earlier sets, as a list scrolls.
        onWheel: event => detail.dvm.page = Math.max(0, Math.min(detail.dvm.pageCount - 1,
            detail.dvm.page - Math.round(event.angleDelta.y / 120)))
    }

    // The bottom bar: the more menu, the action button, the next set.
    Row {
        id: toolbar
        anchors.bottom: parent.bottom
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.bottomMargin: Theme.spacing
        spacing: Theme.padding
        visible: detail.dvm.hasSets
        WatchButton {
            objectName: "moreMenu"
            width: Theme.buttonHeight * 1.2
            text: "\u2022\u2022\u2022"
            onClicked: detail.dvm.openMoreMenu()
        }
        WatchButton {
            objectName: "actionButton"
            width: Theme.buttonHeight * 1.6
            color: detail.dvm.actionDone ? "#0a84ff" : Theme.buttonBackground
            text: detail.dvm.actionSymbol === "stopwatch" ? "\u25b6"
                : detail.dvm.actionSymbol === "checkmark" ? "\u2713" : "?"
            onClicked: detail.dvm.tapAction()
        }
        WatchButton {
            objectName: "nextSet"
            width: Theme.buttonHeight * 1.2
            visible: detail.dvm.nextSymbol.length > 0
            text: detail.dvm.nextSymbol === "square" ? "\u25a1" : "\u2304"
            onClicked: detail.dvm.next()
        }
    }
}

import QtQuick

// One page per workout the phone offers, paged sideways (or with the crown).
Item {
    id: pager
    objectName: "workoutPager"
    required property var vm

    Text {
        anchors.centerIn: parent
        width: parent.width - 2 * Theme.padding
        visible: pages.count === 0
        text: pager.vm.texts.noWorkouts
        color: Theme.primaryText
        font.pixelSize: Theme.headline
        wrapMode: Text.WordWrap
        horizontalAlignment: Text.AlignHCenter
    }

    ListView {
        id: pages
        objectName: "workoutPages"
        anchors.fill: parent
        anchors.bottomMargin: dots.height + Theme.spacing
        orientation: ListView.Horizontal
        snapMode: ListView.SnapOneItem
        highlightRangeMode: ListView.StrictlyEnforceRange
        highlightMoveDuration: 150
        boundsBehavior: Flickable.StopAtBounds
        clip: true
        model: pager.vm.workouts
        currentIndex: pager.vm.workoutPage
        onCurrentIndexChanged: pager.vm.workoutPage = currentIndex

        delegate: Item {
            id: card
            required property string workoutId
            required property string title
            required property var exerciseNames
            required property bool complete
            width: pages.width
            height: pages.height

            Text {
                id: cardTitle
                anchors.top: parent.top
                anchors.left: parent.left
                anchors.right: parent.right
                anchors.margins: Theme.padding
                text: card.title
                color: Theme.primaryText
                font.pixelSize: Theme.headline
                font.weight: Font.Bold
                // One line across the card: smaller type before any of it is cut.
                fontSizeMode: Text.HorizontalFit
                minimumPixelSize: 11 * Theme.unit
                elide: Text.ElideRight
                maximumLineCount: 1
            }
            ListView {
                id: names
                anchors.top: cardTitle.bottom
                anchors.bottom: action.top
                anchors.left: parent.left
                anchors.right: parent.right
                anchors.margins: Theme.padding
                clip: true
                interactive: contentHeight > height
                model: card.exerciseNames
                delegate: Text {
                    required property string modelData
                    width: names.width
                    text: modelData
                    color: Theme.textSubdued
                    font.pixelSize: Theme.footnote
                    elide: Text.ElideRight
                    maximumLineCount: 1
                }
            }
            WatchButton {
                id: action
                objectName: "startWorkout:" + card.workoutId
                anchors.bottom: parent.bottom
                anchors.left: parent.left
                anchors.right: parent.right
                anchors.margins: Theme.padding
                visible: !card.complete
                enabled: pager.vm.startWorkoutEnabled
                text: pager.vm.texts.startWorkout
                textColor: Theme.accentColor
                onClicked: pager.vm.startWorkout(card.workoutId)
            }
            Text {
                anchors.centerIn: action
                visible: card.complete
                text: pager.vm.texts.workoutComplete
                color: Theme.accentColor
                font.pixelSize: Theme.body
                font.weight: Font.DemiBold
            }
        }
    }

    Row {
        id: dots
        anchors.bottom: parent.bottom
        anchors.bottomMargin: Theme.spacing
        anchors.horizontalCenter: parent.horizontalCenter
        spacing: Theme.spacing
        visible: pages.count > 1
        Repeater {
            model: pages.count
            Rectangle {
                required property int index
                width: 3 * Theme.unit
                height: width
                radius: width / 2
                color: index === pages.currentIndex ? Theme.primaryText : Theme.textSubdued
            }
        }
    }
}

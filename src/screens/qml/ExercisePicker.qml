import QtQuick

// The phone's exercise catalogue, recent ones first; a row adds that exercise (or replaces the
// placeholder it was opened from).
Item {
    id: picker
    objectName: "ExercisePicker"
    required property var vm

    function bringIntoView(referenceExerciseId) {
        const index = picker.vm.pickerRowOf(referenceExerciseId);
        if (index < 0)
            return false;
        entries.positionViewAtIndex(index, ListView.Contain);
        return true;
    }

    ListView {
        id: entries
        objectName: "pickerList"
        anchors.fill: parent
        clip: true
        spacing: Theme.spacing
        boundsBehavior: Flickable.StopAtBounds
        model: picker.vm.pickerRows
        section.property: "section"
        section.delegate: Text {
            required property string section
            width: entries.width
            text: section
            color: Theme.secondaryText
            font.pixelSize: Theme.footnote
            font.weight: Font.DemiBold
            topPadding: Theme.padding
            bottomPadding: Theme.spacing
        }
        delegate: WatchButton {
            required property string referenceExerciseId
            required property string name
            objectName: "pickExercise:" + referenceExerciseId
            width: entries.width
            text: name
            onClicked: picker.vm.pickExercise(referenceExerciseId)
        }
    }
}

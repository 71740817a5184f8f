import QtQuick

// The root screen: by the workout's status, the pager of the phone's workouts, the running
// workout's exercise list, or the prompt to open the phone.
Item {
    id: root
    objectName: "ContentView"
    required property var vm
    required property var syncVm

    WorkoutPager {
        anchors.fill: parent
        vm: root.vm
        visible: root.vm.content === "availableWorkouts"
    }
    ExerciseList {
        anchors.fill: parent
        vm: root.vm
        visible: root.vm.content === "exerciseList"
    }
    SyncIndicator {
        anchors.top: parent.top
        anchors.right: parent.right
        anchors.margins: Theme.spacing
        z: 1
        syncVm: root.syncVm
        visible: root.syncVm.indicatorShown && root.vm.content !== "phonePrompt"
    }
    PhonePrompt {
        anchors.fill: parent
        vm: root.vm
        visible: root.vm.content === "phonePrompt"
    }
}

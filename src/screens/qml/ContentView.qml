import QtQuick

// The root screen: by the workout's status, the pager of the phone's workouts, the running
// workout's exercise list, or the prompt to open the phone.
Item {
    id: root
    objectName: "ContentView"
    required property var vm

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
    PhonePrompt {
        anchors.fill: parent
        vm: root.vm
        visible: root.vm.content === "phonePrompt"
    }
}

import QtQuick
import QtQuick.Controls.Basic

// The watch's one window: a navigation stack with the root screen at its bottom, and the open
// sheet above it.
Window {
    id: window
    required property var vm
    required property var syncVm
    width: 396
    height: 484
    visible: true
    color: Theme.background
    title: "wristside"

    Binding { target: Theme; property: "unit"; value: Math.min(window.width / 198, window.height / 242) }

    StackView {
        id: navigation
        objectName: "navigation"
        anchors.fill: parent
        initialItem: ContentView { vm: window.vm; syncVm: window.syncVm }
        // The detail follows the logic's choice of exercise; the stack only shows it.
        pushEnter: null; pushExit: null; popEnter: null; popExit: null
    }
    Component {
        id: detailPage
        ExerciseDetail { vm: window.vm }
    }
    Connections {
        target: window.vm
        function onDetailExerciseIdChanged() { window.followDetail() }
    }
    function followDetail() {
        if (window.vm.detailExerciseId.length > 0 && navigation.depth === 1)
            navigation.push(detailPage);
        else if (window.vm.detailExerciseId.length === 0 && navigation.depth > 1)
            navigation.pop();
    }

    Sheet {
        id: sheet
        objectName: "sheet"
        anchors.fill: parent
        visible: window.vm.sheet.length > 0
        onDismissed: window.vm.dismissSheet(window.vm.sheet)
        Loader {
            anchors.fill: parent
            sourceComponent: {
                switch (window.vm.sheet) {
                case "WorkoutFinishSheet": return finishSheet;
                case "ExercisePicker": return pickerSheet;
                case "SyncStatusSheet": return statusSheet;
                case "SyncHealthSheet": return syncHealthSheet;
                case "RestTimer": return restSheet;
                }
                return null;
            }
        }
    }
    Component { id: finishSheet; WorkoutFinishSheet { vm: window.vm } }
    Component { id: pickerSheet; ExercisePicker { vm: window.vm } }
    Component { id: statusSheet; SyncStatusSheet { vm: window.vm } }
    Component { id: syncHealthSheet; SyncHealthSheet { syncVm: window.syncVm } }
    Component { id: restSheet; RestTimer { vm: window.vm } }
}

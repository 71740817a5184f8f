import QtQuick
import QtQuick.Controls.Basic

// The watch's one window: a navigation stack with the root screen at its bottom, and the open
// sheet above it.
Window {
    id: window
    required property var vm
    required property var dvm
    required property var alerts
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
        ExerciseDetail { vm: window.vm; dvm: window.dvm }
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

    // The root screen's sheets come first; the detail's own sheets show while none of them is up.
    readonly property string sheetName: window.vm.sheet.length > 0 ? window.vm.sheet
                                        : navigation.depth <= 1 ? ""
                                        : window.dvm.sheet.length > 0 ? window.dvm.sheet
                                        : window.dvm.editorSheet
    Sheet {
        id: sheet
        objectName: "sheet"
        anchors.fill: parent
        visible: window.sheetName.length > 0
        onDismissed: window.vm.sheet.length > 0 ? window.vm.dismissSheet(window.vm.sheet)
                     : window.dvm.sheet.length > 0 ? window.dvm.closeSheet()
                     : window.dvm.closeEditorSheet()
        Loader {
            anchors.fill: parent
            sourceComponent: {
                switch (window.sheetName) {
                case "WorkoutFinishSheet": return finishSheet;
                case "ExercisePicker": return pickerSheet;
                case "SyncStatusSheet": return statusSheet;
                case "SyncHealthSheet": return syncHealthSheet;
                case "RestTimer": return restSheet;
                case "moreMenu": return moreMenu;
                case "setTypeOptions": return setTypeOptions;
                case "plateCalculator": return plateCalculator;
                case "note": return noteSheet;
                case "duration": return durationPicker;
                case "bandAlert": return bandAlert;
                }
                return null;
            }
        }
    }
    Keypad {
        objectName: "keypadLayer"
        anchors.fill: parent
        visible: window.dvm.keypadOpen && window.vm.sheet.length === 0
        dvm: window.dvm
    }
    NotificationBanner { alerts: window.alerts }
    HapticPulse { alerts: window.alerts }
    Component { id: finishSheet; WorkoutFinishSheet { vm: window.vm } }
    Component { id: pickerSheet; ExercisePicker { vm: window.vm } }
    Component { id: statusSheet; SyncStatusSheet { vm: window.vm } }
    Component { id: syncHealthSheet; SyncHealthSheet { syncVm: window.syncVm } }
    Component { id: restSheet; RestTimer { vm: window.vm } }
    Component { id: moreMenu; MoreMenu { dvm: window.dvm } }
    Component { id: setTypeOptions; SetTypeOptions { dvm: window.dvm } }
    Component { id: plateCalculator; PlateCalculator { dvm: window.dvm } }
    Component { id: noteSheet; NoteSheet { dvm: window.dvm } }
    Component { id: durationPicker; DurationPicker { dvm: window.dvm } }
    Component { id: bandAlert; BandAlert { dvm: window.dvm } }
}

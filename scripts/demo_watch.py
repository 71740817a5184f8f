#!/usr/bin/env python3
"""Plays the user on the watch's window through its control channel, for scripts/demo.sh.

Usage: demo_watch.py WRISTSIDE SHOTS_DIR [wristside arguments...]  (it starts the watch face itself)
Each step presses a control as a finger would, waits for what the screen should show, prints a
summary of the screen and, offscreen, writes a screenshot of it into SHOTS_DIR.
With GLANCESIDE_HOST set (a JSON list: the host program and its arguments) it also plays the user
on the phone's home and lock screens, which that host draws."""
import json
import os
import subprocess
import sys
import time

wristside, shots = sys.argv[1], sys.argv[2]
offscreen = os.environ.get("QT_QPA_PLATFORM") == "offscreen"
shot_number = 0


def start(*extra):
    return subprocess.Popen([wristside, "--control", "stdin", *sys.argv[3:], *extra],
                            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, bufsize=1)


def stop():
    ask("quit")
    watch.stdin.close()
    for line in watch.stdout:
        print("  [watch] " + line.rstrip("\n"), flush=True)
    watch.wait()


watch = start("--watch-face")
host_command = json.loads(os.environ.get("GLANCESIDE_HOST", "null"))
host = host_command and subprocess.Popen([*host_command, "--control", "stdin"],
                                         stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True,
                                         bufsize=1)


def ask(action, program=None, **arguments):
    program = program or watch
    tag = "  [phone screen] " if program is host else "  [watch] "
    program.stdin.write(json.dumps({"action": action, **arguments}) + "\n")
    program.stdin.flush()
    for line in program.stdout:
        if line.startswith('{"reply":'):
            return json.loads(line)
        print(tag + line.rstrip("\n"), flush=True)
    sys.exit("the program ended before answering " + action)


def act(action, program=None, **arguments):
    answer = ask(action, program, **arguments)
    if answer["reply"] == "error":
        sys.exit("demo: %s failed: %s" % (action, answer["message"]))


def show_phone(name, view, until=lambda texts: True, seconds=20):
    """The phone's home screen or lock screen, as glanceside-host draws it."""
    global shot_number
    deadline = time.time() + seconds
    screen = ask("screen", host)
    texts = lambda: screen["home"]["systemMedium"] if view == "home" else screen["lockScreen"] or []
    while not until(texts()) and time.time() < deadline:
        time.sleep(0.2)
        screen = ask("screen", host)
    if not until(texts()):
        sys.exit("demo: the phone never showed %s; it shows %s" % (name, screen))
    shot_number += 1
    print("  [screen %02d] phone %s: %s" % (shot_number, view, " | ".join(texts())), flush=True)
    if offscreen:
        act("screenshot", host, path=os.path.join(shots, "%02d-phone-%s.png" % (shot_number, name)),
            view=view)


def show(name, until=lambda s: True, seconds=20):
    """Waits until the screen satisfies `until`, then describes it and takes its picture."""
    global shot_number
    deadline = time.time() + seconds
    screen = ask("screen")
    while not until(screen) and time.time() < deadline:
        time.sleep(0.2)
        screen = ask("screen")
    if not until(screen):
        sys.exit("demo: the screen never showed %s; it shows %s" % (name, screen))
    shot_number += 1
    where = screen["screen"] + (" + " + screen["sheet"] if screen["sheet"] else "")
    print("  [screen %02d] %s: %s" % (shot_number, where, " | ".join(screen["texts"])), flush=True)
    if offscreen:
        act("screenshot", path=os.path.join(shots, "%02d-%s.png" % (shot_number, name)))
    else:
        time.sleep(1.5)  # long enough to look at


def shows(text):
    return lambda s: text in s["texts"]


if host:
    show_phone("home-widget", "home", lambda texts: "Day A: Squat & Bench" in texts)
show("watch-face", shows("Tessaron"))
act("tapComplication")
show("available-workouts", shows("Start Workout"))
act("startWorkout", workoutId="wk1-day-a")
show("exercise-list", shows("Back Squat"))
show("phone-edited-the-workout", shows("Pendlay Row"))
show("phone-logged-a-set", shows("1/1 sets complete"))
act("openExercise", exerciseId="ex-0012")
show("set-page", shows("Set 1/4"))
act("keypad", exerciseId="ex-0012", setIndex=0, field="weight", keys=["1", "3"], leaveOpen=True)
show("keypad-mid-entry", lambda s: s["sheet"] == "Keypad" and "13" in s["texts"])
act("keypad", exerciseId="ex-0012", setIndex=0, field="weight", keys=["5"])
show("weight-typed", shows("135"))
act("actionButton", exerciseId="ex-0012", setIndex=0)
show("rest-with-next-set-and-plates", lambda s: s["sheet"] == "RestTimer")
act("dismissTimer")
if host:
    # The lifter completes the next set from the phone's lock screen: the watch rests with it.
    show_phone("lock-screen-next-set", "lockScreen", lambda texts: any(" x " in t for t in texts))
    act("tapCompleteSet", host)
    show_phone("lock-screen-at-once", "lockScreen", lambda texts: "Next set..." in texts)
    # Then the phone has completed the set and publishes the real next set and its rest.
    show_phone("lock-screen-rest", "lockScreen", lambda texts: "Next set..." not in texts and
               any(t.startswith("Rest") for t in texts))
    show("rest-from-the-lock-screen", lambda s: s["sheet"] == "RestTimer")
    act("dismissTimer")
act("plateCalculator", exerciseId="ex-0012", setIndex=1)
show("plate-calculator", lambda s: s["sheet"] == "PlateCalculator")
act("swipe", direction="down")
act("openExercisePicker")
show("exercise-picker", lambda s: s["sheet"] == "ExercisePicker")
act("pickExercise", referenceExerciseId="ref-hip-thrust")
time.sleep(1)
act("crown", detents=-6)  # down the list to the new row
show("exercise-added", shows("Hip Thrust"))
# A timed set: five seconds on the crown's picker, then its countdown.
act("openExercise", exerciseId="ex-0032")
act("setDuration", exerciseId="ex-0032", setIndex=0, seconds=5)
show("timed-set", shows("0:05"))
act("actionButton", exerciseId="ex-0032", setIndex=0)
show("set-countdown", lambda s: s["sheet"] == "RestTimer")
# The wrist drops: the watch face comes back and only the notification marks the end.
stop()
watch = start("--watch-face")
show("notification-banner", shows("Times up"), seconds=15)
act("tapNotification")
show("rest-after-countdown", lambda s: s["sheet"] == "RestTimer" and "Rest" in s["texts"])
act("dismissTimer")
act("finishWorkout")
show("finish-confirmation", lambda s: s["sheet"] == "WorkoutFinishSheet")
act("confirmFinish")
show("hand-off", lambda s: s["sheet"] == "SyncStatusSheet")
show("hand-off-done", shows("Workout Completed! View workout stats on your iPhone."))
act("dismissSyncStatus")
show("workout-complete", shows("Workout Complete"))
act("swipe", direction="left")
time.sleep(0.5)  # the page slides into place
show("next-workout", shows("Start Workout"))
stop()
if host:
    show_phone("home-widget-after", "home")
    ask("quit", host)
    host.stdin.close()
    host.wait()
sys.exit(watch.wait())

#!/usr/bin/env bash
# The demo, with the embedded defaults: phone-sim (the phone, with a training week) and the watch
# program talking over the phone link. The watch asks for the phone's data through its persistent
# outbox (one request answered "Retry" and sent again), shows the week's workouts and starts the
# first one with its health session; the phone edits the workout (deltas); the user logs a set
# (a weight typed, the set completed), the rest runs with the next set and its plates, and the
# phone corrects it and pauses and resumes the session by numbered commands; the user adds an
# exercise from the phone's catalogue and finishes the workout (confirming, as sets are left);
# the phone records it and moves on to the next workout, and the hand-off ends in success.
# The watch's state answers are summarised here; the control channel itself answers with the
# whole state as JSON.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"
"$root/scripts/build.sh" "$build" >/dev/null

work=$(mktemp -d)
phone_pid=""
cleanup() {
  [ -n "$phone_pid" ] && kill "$phone_pid" 2>/dev/null && wait "$phone_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
link="unix:$work/phone-link.sock"

echo "== phone-sim (the phone) listens on $link with its embedded training week"
"$build/src/phone/phone-sim" --link "$link" --data-dir "$work/phone" --script <(
  echo "wait-for refresh_data 20"
  echo "ack retry"
  echo "wait 4"
  echo "ack success"
  echo "wait-for start_workout 30"
  echo "wait 1"
  echo "exercise-change ex-0017 {\"name\": \"Pendlay Row\"}"
  echo "exercise-remove ex-0032"
  echo "wait-for complete_set 30"
  echo "timer-correct 45"
  echo "session-pause"
  echo "wait 1"
  echo "session-resume"
  echo "wait-for complete_workout 30"
  echo "wait 2"
  echo "logbook"
  echo "quit"
) 2>&1 | sed -u 's/^/  [phone] /' &
phone_pid=$!
sleep 0.5

echo "== wristside --headless (the watch) connects; the control channel acts as the user"
{
  sleep 2; echo '{"action":"state"}'
  # Answered "Retry": the watch keeps the request and sends it again five seconds later.
  sleep 0.5; echo '{"action":"refresh"}'
  sleep 6.5; echo '{"action":"state"}'
  echo '{"action":"startWorkout","workoutId":"wk1-day-a"}'
  sleep 3; echo '{"action":"state"}'
  echo '{"action":"keypad","exerciseId":"ex-0006","setIndex":0,"field":"weight","keys":["1","0","5"]}'
  echo '{"action":"actionButton","exerciseId":"ex-0006","setIndex":0}'
  sleep 2.5; echo '{"action":"state"}'
  echo '{"action":"openExercisePicker"}'
  echo '{"action":"pickExercise","referenceExerciseId":"ref-hip-thrust"}'
  echo '{"action":"finishWorkout"}'
  echo '{"action":"confirmFinish"}'
  echo '{"action":"state"}'
  sleep 3; echo '{"action":"state"}'
  echo '{"action":"dismissSyncStatus"}'
  echo '{"action":"quit"}'
} | "$build/src/app/wristside" --headless --link "$link" --data-dir "$work/watch" 2>&1 |
  python3 -u -c '
import json, sys
for line in sys.stdin:
    line = line.rstrip("\n")
    if line.startswith("{\"reply\":\"error\""):
        line = "error: " + json.loads(line)["message"]
    elif line.startswith("{\"reply\":\"state\""):
        s = json.loads(line)
        status = s["workoutStatus"]
        pending = ", ".join(m["message"]["type"] + (" (transfer queued)" if m["queuedForTransfer"] else "") for m in s["outbox"]) or "empty"
        if status == "IN_PROGRESS":
            sets = sum(len(e["exerciseSets"]) for e in s["exercises"])
            done = sum(1 for e in s["exercises"] for x in e["exerciseSets"] if x["status"] == "COMPLETE")
            line = "state: workout \"%s\" in progress, %d exercises, %d/%d sets done, revision %s" % (
                s["name"], len(s["exercises"]), done, sets, s["revisions"]["lastDeltaRevision"])
        else:
            cards = "; ".join("%s (%s)" % (w["name"], "done" if w["status"] == "COMPLETE" else "Start Workout") for w in s["availableWorkouts"])
            line = "state: %s; workouts offered: %s" % (status or "(nothing from the phone yet)", cards or "none")
        line += "; outbox: " + pending
        t = s["timer"]
        if t["timerIsRunning"]:
            plates = " ".join("%gx%d" % (p["plateWeight"], p["quantity"] // 2) for p in t["nextSetPlates"])
            line += "; %s timer %s s (revision %d), next: %s %s%s" % (
                t["titleMessage"], t["timerSeconds"], t["timerRevision"], t["nextSetExercise"], t["nextSetLoad"],
                (", plates per side " + plates) if plates else "")
        if s.get("notifications"):
            n = s["notifications"][0]
            line += "; notification \"%s\" in %.0f s" % (n["title"], n["seconds"])
        h = s["session"]
        if h["hasWorkoutSession"]:
            line += "; health session state %d for %s, heart rate %.0f bpm, %.1f kcal" % (
                h["sessionState"], h["workoutIdentifier"], h["lastHeartRate"], h["totalEnergyBurned"])
        if s["syncingFinishedWorkout"] or s["syncingFinishedWorkoutStatus"] != "notStarted":
            line += "; hand-off of the finished workout: " + s["syncingFinishedWorkoutStatus"]
        line += "; %d catalogue entries" % len(s["referenceExercises"])
    print("  [watch] " + line)
'
wait "$phone_pid" || true
phone_pid=""
echo "== done: the phone has recorded the finished workout and offers the next one"

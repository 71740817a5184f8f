#!/usr/bin/env bash
# The demo, with the embedded defaults: phone-sim and the watch program talking over the phone
# link: the watch's persistent outbox, the phone's acknowledgements and logbook, refresh requests
# answered with the phone's workout, which the watch takes in under its revision rules, then the
# phone starting the workout, changing it (deltas) and asking the watch for a health session whose
# heart rate and energy come back to the phone; then the user logs a set on the watch (a weight
# typed, the set completed), the rest runs with the next set and its plates, and the phone
# corrects the rest. The screens themselves are not built yet.
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

echo "== phone-sim (the phone) listens on $link with its embedded training plan"
"$build/src/phone/phone-sim" --link "$link" --data-dir "$work/phone" --script <(
  echo "wait-for refresh_data 20"
  echo "request {\"hello\": \"from the phone\"}"
  echo "ack retry"
  echo "wait 4"
  echo "ack success"
  echo "wait 3"
  echo "workout-status IN_PROGRESS"
  echo "start-workout"
  echo "wait 2"
  echo "exercise-change ex-0017 {\"name\": \"Pendlay Row\"}"
  echo "exercise-remove ex-0032"
  echo "wait-for complete_set 15"
  echo "timer-correct 45"
  echo "wait 6"
  echo "logbook"
  echo "quit"
) 2>&1 | sed -u 's/^/  [phone] /' &
phone_pid=$!
sleep 0.5

echo "== wristside --headless (the watch) connects; the control channel asks for its state"
# The phone answers the second refresh request "Retry": the watch keeps it and sends it again five
# seconds later, when the phone says "Success".
{
  sleep 2; echo '{"action":"state"}'
  sleep 0.5; echo '{"action":"refresh"}'
  sleep 1.5; echo '{"action":"state"}'
  sleep 7; echo '{"action":"state"}'
  sleep 1; echo '{"action":"keypad","exerciseId":"ex-0006","setIndex":0,"field":"weight","keys":["1","0","5"]}'
  echo '{"action":"actionButton","exerciseId":"ex-0006","setIndex":0}'
  sleep 1; echo '{"action":"state"}'
  sleep 6; echo '{"action":"state"}'
  echo '{"action":"quit"}'
} | "$build/src/app/wristside" --headless --link "$link" --data-dir "$work/watch" 2>&1 |
  python3 -u -c '
import json, sys
for line in sys.stdin:
    line = line.rstrip("\n")
    if line.startswith("{\"reply\":\"state\""):
        s = json.loads(line)
        sets = sum(len(e["exerciseSets"]) for e in s["exercises"])
        pending = ", ".join(m["message"]["type"] + (" (transfer queued)" if m["queuedForTransfer"] else "") for m in s["outbox"]) or "empty"
        r = s["revisions"]
        line = "state: workout \"%s\" (%s), %d exercises with %d sets, snapshot revision %s, delta revision %s; outbox: %s" % (
            s["name"], s["workoutStatus"], len(s["exercises"]), sets, r["lastSnapshotRevision"], r["lastDeltaRevision"], pending)
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
    print("  [watch] " + line)
'
wait "$phone_pid" || true
phone_pid=""
echo "== done: the watch's outbox is empty once the phone has acknowledged every message"

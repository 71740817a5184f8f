#!/usr/bin/env bash
# The demo, with the embedded defaults: phone-sim (the phone, with a training week) and the watch
# program with its screens, talking over the phone link. The watch starts on a watch face; its
# complication opens the program, which shows the week's workouts (the phone's first answer to
# its request is "Retry": the outbox sends it again). The user starts the first workout; the
# phone edits it (deltas) and logs a set; the user types a weight on the watch's keypad,
# completes the set and sees the rest with the next set's plates, opens the plate calculator,
# adds an exercise from the phone's catalogue, starts a timed set's countdown and drops the
# wrist (the program restarts behind the watch face, whose banner then says the countdown is
# over and opens the program on the rest that follows), and finishes the workout, confirming as
# sets are left; the phone records it, the hand-off ends in success, and the pager offers the next
# workout. Beside them the phone's widget host (glanceside-host) draws the home-screen widget and
# the lock screen: a set is completed there with "Complete Set", and the watch shows it done and
# rests with the lock screen.
#
# With a display the watch's window opens next to phone-sim's log in this terminal. Without one
# it runs offscreen and writes a screenshot of every screen it passes through, and one contact
# sheet of them all, into the folder named at the end.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"
"$root/scripts/install-deps.sh"
# Only what the demo runs: the test programs are for scripts/test.sh.
cmake -S "$root" -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target wristside phone-sim contact-sheet glanceside glanceside-host

work=$(mktemp -d)
chmod 700 "$work"
phone_pid=""
cleanup() {
  # The demo's own status, not that of the phone it stops here.
  local status=$?
  if [ -n "$phone_pid" ]; then
    kill "$phone_pid" 2>/dev/null || true
    wait "$phone_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT
link="unix:$work/phone-link.sock"
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$work}"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  export QT_QPA_PLATFORM=offscreen
fi
shots="$root/demo-screens"
rm -rf "$shots"
mkdir -p "$shots"

echo "== phone-sim (the phone) listens on $link with its embedded training week"
"$build/src/phone/phone-sim" --link "$link" --data-dir "$work/phone" \
  --app-group "$work/app-group" --widget-data "$work/widget" --widget-host "$work/widget-host.sock" \
  --script <(
  echo "wait-for refresh_data 30"
  echo "ack retry"
  echo "wait 4"
  echo "ack success"
  echo "wait-for start_workout 60"
  echo "wait 1"
  echo "exercise-change ex-0017 {\"name\": \"Pendlay Row\"}"
  echo "exercise-remove ex-0027"
  echo "wait 2"
  echo "exercise-change ex-0006 {\"exerciseSets\": [{\"id\": \"set-0001\", \"status\": \"COMPLETE\", \"reps\": \"5\", \"weight\": \"95\", \"sequence\": 0}]}"
  echo "wait-for complete_workout 60"
  echo "wait 2"
  echo "logbook"
  echo "wait 30"
  echo "quit"
) 2>&1 | sed -u 's/^/  [phone] /' &
phone_pid=$!
sleep 0.5

echo "== wristside (the watch) with its screens$([ "${QT_QPA_PLATFORM:-}" = offscreen ] && echo ", offscreen")"
# The phone's widget host draws the home-screen widget and the lock screen's live activity.
export GLANCESIDE_HOST="[\"$build/src/widget/host/glanceside-host\", \"--app-group\", \"$work/app-group\", \"--data-dir\", \"$work/widget\", \"--phone-socket\", \"$work/widget-host.sock\"]"
python3 -u "$root/scripts/demo_watch.py" "$build/src/app/wristside" "$shots" \
  --link "$link" --data-dir "$work/watch"

if [ "${QT_QPA_PLATFORM:-}" = offscreen ]; then
  "$build/src/app/contact-sheet" "$shots/contact-sheet.png" "$shots"/[0-9]*.png
  echo "== screenshots of every screen, and all of them on one contact sheet: $shots"
  echo "   (contact-sheet.png)"
fi
echo "== done: the phone has recorded the finished workout and offers the next one"

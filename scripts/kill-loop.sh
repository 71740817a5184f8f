#!/usr/bin/env bash
# Kill loop: a long robustness check, run by hand, not part of the test suite. phone-sim listens
# on a socket; the headless watch is started again and again on the same data directory, logs
# sets against the phone's current workout through its control channel and is killed with
# SIGKILL after a random, seeded delay. At the end the watch runs until its outbox is empty, and
# the phone's logbook must hold every message the watch queued, each once and in the watch's
# order, and every SQLite file of both programs must pass PRAGMA integrity_check.
#
# Usage: scripts/kill-loop.sh [KILLS (300)] [SEED (from the clock)]
# KILL_LOOP_BUILD=DIR uses that build tree (default build/; a sanitizer build works too).
#
# What the watch queued is read from its outbox in the `state` answers that the simulated user
# asks for after every action: a sync id seen there was stored before it was shown, so it must
# reach the phone. Messages queued in the last moments before a kill, after the last answer,
# are not known; they may or may not arrive, and are only counted. Refresh requests are exempt
# from arriving: the outbox keeps only the newest one.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
kills=${1:-300}
seed=${2:-$((($(date +%s%N) / 1000) % 1000000))}
max_delay_ms=3000
build=${KILL_LOOP_BUILD:-"$root/build"}

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target wristside phone-sim >/dev/null
wristside="$build/src/app/wristside"
phone_sim="$build/src/phone/phone-sim"
# The interpreter itself: a version manager's shim can take a second to start, every round.
python=$(python3 -c 'import sys; print(sys.executable)')

work=$(mktemp -d /tmp/kill-loop.XXXXXX)
link="unix:$work/link.sock"
phone_pid=""
watch_pid=""
cleanup() {
  for pid in $watch_pid $phone_pid; do kill -KILL "$pid" 2>/dev/null || true; done
}
trap cleanup EXIT
fail() {
  echo "kill-loop: FAILED: $*" >&2
  echo "kill-loop: logs and data are kept in $work (seed $seed)" >&2
  exit 1
}

# The simulated user. Reads the watch's standard output, writes actions to its standard input,
# and appends every sync id it sees in the outbox to queued.txt, in the order first seen.
read -r -d '' user_py <<'PY' || true
import collections, json, os, random, sys, time

mode, seed, work = sys.argv[1:4]
rng = random.Random(seed)
log = open(f"{work}/watch.log", "a")
log.write(f"--- {mode} {seed}\n")
journal_path = f"{work}/queued.txt"
seen = {line.split()[0] for line in open(journal_path)} if os.path.exists(journal_path) else set()
journal = open(journal_path, "a")
answers = collections.Counter()
last_outbox = None

def send(action, arguments):
    sys.stdout.write(json.dumps({"action": action, **arguments}) + "\n")

def ask(action, **arguments):
    send(action, arguments)
    # A state request right behind the action runs next on the watch's main queue, so it
    # usually sees what the action queued before the phone has acknowledged it.
    if action != "state":
        send("state", {})
    sys.stdout.flush()
    reply = answer(action)
    if action != "state":
        observe(answer("state"))
    return reply

def answer(action):
    for line in sys.stdin:
        if not line.endswith("\n"):
            break  # killed in the middle of a line
        if line.startswith('{"reply":'):
            reply = json.loads(line)
            if action != "state":
                answers[action + (" ok" if reply["reply"] == "ok" else " refused")] += 1
            if reply["reply"] == "error":
                log.write(f"user: {action} refused: {reply['message']}\n")
            return reply
        log.write(line)
    raise EOFError

def state():
    return observe(ask("state"))

def observe(s):
    global last_outbox
    for pending in s["outbox"]:
        if pending["syncId"] not in seen:
            seen.add(pending["syncId"])
            journal.write(f"{pending['syncId']} {(pending['message'] or {}).get('type', '?')}\n")
    journal.flush()
    last_outbox = len(s["outbox"])
    return s

def finished(s):
    return sum(w["status"] == "COMPLETE" for w in s["availableWorkouts"])

def log_sets(s):
    exercises = [e for e in s["exercises"] if e["name"]]
    if not exercises:
        return
    e = rng.choice(exercises)
    sets = e["exerciseSets"]
    open_sets = [i for i, x in enumerate(sets) if x["status"] != "COMPLETE"]
    done = sum(x["status"] == "COMPLETE" for e2 in exercises for x in e2["exerciseSets"])
    r = rng.random()
    if r < 0.35 and open_sets:
        ask("actionButton", exerciseId=e["id"], setIndex=open_sets[0])
    elif r < 0.65 and sets:
        index = rng.randrange(len(sets))
        field = rng.choice([f for f in ("reps", "weight", "duration") if e["is" + f.capitalize()]] or [None])
        if field == "duration":
            ask("setDuration", exerciseId=e["id"], setIndex=index, seconds=5 * rng.randint(2, 18))
        elif field:
            value = str(rng.randint(1, 20)) if field == "reps" else f"{rng.randint(20, 300)}.{rng.choice('05')}"
            ask("keypad", exerciseId=e["id"], setIndex=index, field=field, keys=list(value))
    elif r < 0.80 and len(sets) < 8:
        ask("addSet", exerciseId=e["id"])
    elif r < 0.84 and sets:
        ask("deleteSet", exerciseId=e["id"], setIndex=rng.randrange(len(sets)))
    elif r < 0.87 and done >= 3 and finished(s) < 3:
        # Not the demo plan's fourth workout: the phone would then have none left to offer.
        if ask("finishWorkout")["reply"] == "ok":
            ask("confirmFinish")
    elif r < 0.88:
        ask("refresh")

try:
    if mode == "play":
        while True:
            s = state()
            if s["workoutStatus"] == "IN_PROGRESS":
                log_sets(s)
            elif s["workoutStatus"] in ("NOT_STARTED", "NOT_STARTED_AND_NULL", "COMPLETE"):
                if s["syncingFinishedWorkoutStatus"] in ("success", "failed"):
                    ask("dismissSyncStatus")
                cards = [w for w in s["availableWorkouts"] if w["status"] != "COMPLETE"]
                if cards:
                    ask("startWorkout", workoutId=cards[0]["id"])
            time.sleep(rng.uniform(0, 0.05))
    else:  # drain: no more actions, wait for the outbox to empty, then quit
        deadline = time.monotonic() + 120
        while state()["outbox"]:
            if time.monotonic() > deadline:
                sys.exit(f"the watch's outbox still holds {last_outbox} messages after 120 s")
            time.sleep(0.2)
        send("quit", {})
        sys.stdout.flush()
        for line in sys.stdin:
            log.write(line)
except (EOFError, BrokenPipeError):
    if mode != "play":
        sys.exit("the watch ended before its outbox was empty")
finally:
    with open(f"{work}/rounds.jsonl", "a") as rounds:
        rounds.write(json.dumps({"mode": mode, "answers": answers, "lastOutbox": last_outbox}) + "\n")
    log.flush()
    # The watch may be gone: whatever is left for its input goes nowhere.
    os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
PY

# Starts the watch and the user on a pair of pipes; sets watch_pid and user_pid.
start_watch() { # MODE ROUND [COMMAND PREFIX...]
  local mode=$1 round=$2
  shift 2
  rm -f "$work/to-watch" "$work/from-watch"
  mkfifo "$work/to-watch" "$work/from-watch"
  # Each side opens the pipe the other opens first, so that neither open blocks for good.
  "$@" "$wristside" --headless --link "$link" --data-dir "$work/watch" \
    <"$work/to-watch" >"$work/from-watch" 2>&1 &
  watch_pid=$!
  "$python" -c "$user_py" "$mode" "$seed.$round" "$work" >"$work/to-watch" <"$work/from-watch" &
  user_pid=$!
}

echo "kill-loop: $kills kills, seed $seed, delays up to $max_delay_ms ms; work directory $work"
"$phone_sim" --link "$link" --data-dir "$work/phone" </dev/null >"$work/phone.log" 2>&1 &
phone_pid=$!
for _ in $(seq 50); do [ -S "$work/link.sock" ] && break; sleep 0.1; done
[ -S "$work/link.sock" ] || fail "phone-sim did not start listening (see $work/phone.log)"

RANDOM=$seed
for ((round = 1; round <= kills; round++)); do
  delay_ms=$((RANDOM % max_delay_ms))
  start_watch play "$round"
  sleep "$((delay_ms / 1000)).$(printf %03d $((delay_ms % 1000)))"
  kill -KILL "$watch_pid" 2>/dev/null || true
  status=0
  wait "$watch_pid" 2>/dev/null || status=$?
  [ "$status" -eq 137 ] || fail "round $round: the watch exited by itself with status $status before the kill (see $work/watch.log)"
  wait "$user_pid" || fail "round $round: the simulated user failed"
  kill -0 "$phone_pid" 2>/dev/null || fail "phone-sim has stopped (see $work/phone.log)"
  ((round % 25 == 0)) && echo "kill-loop: $round kills, ${SECONDS}s"
done

echo "kill-loop: letting the watch deliver its outbox"
start_watch drain final timeout -s KILL 180
wait "$user_pid" || fail "the watch's outbox did not empty"
wait "$watch_pid" || fail "the watch did not quit cleanly"
watch_pid=""
kill -TERM "$phone_pid"
wait "$phone_pid" || fail "phone-sim did not stop cleanly (see $work/phone.log)"
phone_pid=""

"$python" - "$work" "$kills" "$SECONDS" <<'PY' || fail "see above"
import collections, json, pathlib, sqlite3, sys

work, kills, seconds = pathlib.Path(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3])
failures = []

queued = [line.split() for line in (work / "queued.txt").read_text().splitlines()]
phone = sqlite3.connect(f"file:{work / 'phone/logbook.sqlite'}?mode=ro", uri=True)
recorded = {sync_id: (number, kind) for number, sync_id, kind in
            phone.execute("SELECT number, sync_id, type FROM messages ORDER BY number")}
finished_workouts = phone.execute("SELECT count(*) FROM finished_workouts").fetchone()[0]
phone.close()

missing = [(s, t) for s, t in queued if s not in recorded and t != "refresh_data"]
for sync_id, kind in missing[:10]:
    failures.append(f"the watch queued {kind} {sync_id}; the phone's logbook does not have it")
numbers = [(recorded[s][0], s) for s, _ in queued if s in recorded]
for (before, first), (after, second) in zip(numbers, numbers[1:]):
    if after < before:
        failures.append(f"out of order: the watch queued {first} before {second}, "
                        f"the phone recorded them as #{before} and #{after}")

rounds = [json.loads(line) for line in (work / "rounds.jsonl").read_text().splitlines()]
answers = collections.Counter()
for r in rounds:
    answers.update(r["answers"])
phone_log = (work / "phone.log").read_text(errors="replace")
watch_log = (work / "watch.log").read_text(errors="replace")
for line in (phone_log + watch_log).splitlines():
    if any(trouble in line for trouble in ("Unable to open key-value store", "Unable to read key-value store",
                                           "Unable to write key-value store", "cannot record")):
        failures.append("store trouble logged: " + line)

integrity = []
for path in sorted(work.rglob("*")):
    if path.is_file() and path.read_bytes()[:16] == b"SQLite format 3\0":
        try:
            result = sqlite3.connect(f"file:{path}?mode=ro", uri=True).execute("PRAGMA integrity_check").fetchall()
        except sqlite3.DatabaseError as error:
            result = [(str(error),)]
        ok = result == [("ok",)]
        integrity.append(f"  {path.relative_to(work)}: {'ok' if ok else result[:5]}")
        if not ok:
            failures.append(f"{path} fails PRAGMA integrity_check")
    if path.suffix == ".json":  # written atomically: never half a file
        try:
            json.loads(path.read_text())
        except ValueError as error:
            failures.append(f"{path} is not JSON: {error}")
    if ".unreadable-" in path.name:
        failures.append(f"{path}: a store was found unreadable and moved aside")

# Not a failure, but worth knowing: one event sent again as a new message. Edits are left out,
# since the user may type the same value twice.
payloads = collections.Counter()
for (text,) in sqlite3.connect(f"file:{work / 'phone/logbook.sqlite'}?mode=ro", uri=True).execute(
        "SELECT message FROM messages WHERE type NOT IN ('update_set', 'delete_set', 'refresh_data')"):
    message = json.loads(text)
    payloads[(message.get("type"), json.dumps(message.get("payload"), sort_keys=True))] += 1
resent = collections.Counter(kind for (kind, _), n in payloads.items() for _ in range(n - 1))

by_type = collections.Counter(kind for _, kind in recorded.values())
sets_done = sum(r["answers"].get("actionButton ok", 0) for r in rounds)
print(f"kills: {kills} in {seconds} s; kills with messages pending in the last state seen: "
      f"{sum(1 for r in rounds if r['mode'] == 'play' and r['lastOutbox'])}")
print(f"user actions answered ok: {sum(v for k, v in answers.items() if k.endswith(' ok'))}, "
      f"refused: {sum(v for k, v in answers.items() if k.endswith(' refused'))} "
      f"({', '.join(f'{k} {v}' for k, v in sorted(answers.items()))})")
print(f"messages the watch was seen to queue: {len(queued)}; recorded by the phone: {len(recorded)} "
      f"({', '.join(f'{k} {v}' for k, v in by_type.most_common())})")
print(f"sets completed by the action button (ok answers): {sets_done}; complete_set recorded: "
      f"{by_type['complete_set']}; finished workouts recorded: {finished_workouts}")
print(f"recorded but never seen in a state answer (queued and acknowledged in between, or just before a kill): "
      f"{len(set(recorded) - {s for s, _ in queued})}; refresh requests superseded in the outbox: "
      f"{sum(1 for s, t in queued if s not in recorded and t == 'refresh_data')}")
print(f"repeats the phone received (same sync id; every message comes as a live message and a transfer): "
      f"{phone_log.count('repeat of syncId')}")
if resent:
    print(f"WARNING: identical events recorded again under a new sync id: "
          f"{', '.join(f'{k} {v}' for k, v in resent.most_common())}")
print("watch's outbox at the end: empty")
print("integrity_check:\n" + "\n".join(integrity))
for failure in failures:
    print("FAILED: " + failure)
sys.exit(1 if failures else 0)
PY
echo "kill-loop: passed (seed $seed)"
rm -rf "$work"

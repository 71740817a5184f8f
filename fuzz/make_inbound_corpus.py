#!/usr/bin/env python3
"""Writes the seed corpus for fuzz_inbound: short sessions with the phone in the target's input
form (see fuzz_inbound.cpp), dictionaries as binary property lists or as JSON.

  make_inbound_corpus.py [OUT_DIR]   (default: corpus/inbound beside this script)
"""

import datetime, json, os, plistlib, sys

# The manual executor's clock starts at 2026-01-05 09:00 UTC; the phone speaks in Unix milliseconds.
T0 = int(datetime.datetime(2026, 1, 5, 9, tzinfo=datetime.timezone.utc).timestamp() * 1000)
bplist = lambda v: plistlib.dumps(v, fmt=plistlib.FMT_BINARY)
text = lambda v: json.dumps(v, separators=(",", ":")).encode()
chunk = lambda door, body=b"": door.encode() + body

PLATES = [{"id": f"plate-{w}", "weight": w, "units": "lb", "quantity": q}
          for w, q in ((45, 6), (25, 2), (10, 4), (2.5, 2))]
SETS = [{"id": f"set-squat-{n}", "status": "NOT_STARTED", "setNumber": str(n + 1), "sequence": n,
         "type": "regular", "reps": "5", "weight": "225", "timerSeconds": 120} for n in range(3)]
EXERCISES = [
    {"id": "ex-squat", "templateExerciseId": "tpl-squat", "name": "Back Squat", "equipment": "Barbell", "status": "NOT_STARTED", "sequence": 0,
     "weightUnits": "lb", "timerSeconds": 120, "warmupTimerSeconds": 60, "plateMultiplier": 2,
     "barbell": {"name": "Olympic", "weight": 45, "units": "lb"}, "exerciseSets": SETS},
    {"id": "ex-plank", "templateExerciseId": "tpl-plank", "name": "Plank", "equipment": "Bodyweight", "status": "NOT_STARTED", "sequence": 1, "isReps": False,
     "isWeight": False, "isDuration": True, "timerSeconds": 60,
     "exerciseSets": [{"id": "set-plank-0", "status": "NOT_STARTED", "setNumber": "1",
                       "sequence": 0, "type": "regular", "duration": 45, "timerSeconds": 60}]},
]
WORKOUT = {"id": "wk-a", "name": "Day A", "status": "NOT_STARTED", "week": "1",
           "exercises": EXERCISES}
CATALOGUE = {"kind": "reference_exercises", "protocolVersion": 2, "revision": 1, "items": [
    {"id": "ref-bench", "name": "Bench Press", "equipment": "Barbell", "weightUnits": "lb",
     "restTimer": {"warmup": 60, "T1": 180, "supplemental": 120, "assistance": 90}},
    {"id": "ref-landmine", "name": "Landmine Press", "equipment": "Landmine"},
    {"id": "ref-plank", "name": "Plank", "isReps": False, "isWeight": False, "isDuration": True}]}


def snapshot(revision, status="IN_PROGRESS", **extra):
    return dict({"syncRevision": revision, "exercises": EXERCISES, "workout": {
        "id": "wk-a", "name": "Day A", "status": status, "dateStarted": T0}}, **extra)


def timer(revision, start, seconds, running=True):
    return {"timerIsRunning": running, "timerId": "timer-1", "timerRevision": revision,
            "startTime": start, "timerSeconds": seconds, "isExerciseCountdown": False}


def command(n, body, sequence=True):
    return dict(body, commandId=f"cmd-{n}", **({"commandSequence": n} if sequence else {}))


def session(n, key, at, **extra):
    return command(n, {key: dict({"workoutId": "wk-a", "occurredAt": T0 + at}, **extra)})


SEEDS = {
    # The catalogues and the plates on a watch that has nothing else yet.
    "catalogues": [
        text(CATALOGUE),
        chunk("m", bplist({"weight_plates": PLATES, "weightPlatesRevision": 1,
                           "availableWorkouts": [WORKOUT], "availableWorkoutsRevision": 1})),
        chunk("c", text({"referenceExercisesRevision": 2, "removedReferenceExerciseIds": [
            "ref-landmine"], "referenceExerciseOrder": ["ref-plank", "ref-bench"]})),
        chunk("u", text({"removedAvailableWorkoutIds": ["wk-a"], "availableWorkoutsRevision": 2})),
    ],
    # The phone runs the health session by numbered commands and corrects the rest timer; the
    # watch's messages are acknowledged on the way; the workout goes by delta and file.
    "phone_commands": [
        b"",
        chunk("w", bplist({"activityType": 50, "locationType": 2})),
        chunk("m", bplist(snapshot(1, restTimerData=dict(timer(0, T0, 120), exerciseId="ex-squat",
                                                          setCompletedIds=["set-squat-0"])))),
        chunk("m", bplist(command(1, {"syncWorkoutsToHealth": True}))),
        chunk("m", bplist(session(2, "start_workout_session", 1000))),
        chunk("k", b"Success"),
        chunk("m", text(command(3, {"timerCorrectionForId": "timer-1",
                                    "timerCorrectionForRevision": 0,
                                    "timerCorrectionForStartTime": T0,
                                    "restTimerData": timer(1, T0, 45)}))),
        chunk("t", b"30"),
        chunk("m", text(session(4, "pause_workout_session_v2", 60_000))),
        chunk("k", b"Retry"),
        chunk("m", text(session(5, "resume_workout_session_v2", 90_000))),
        chunk("m", bplist(command(6, {"timerCorrectionForId": "timer-1", "timerCorrectionForRevision": 1,
                                      "timerCorrectionForStartTime": T0,
                                      "restTimerData": timer(2, T0, 45, running=False)}))),
        chunk("f", b"failed"),
        chunk("u", bplist({"syncRevision": 2, "syncSnapshotKind": "delta",
                           "exerciseUpdates": [dict(EXERCISES[0], name="Front Squat")],
                           "removedExerciseIds": ["ex-plank"], "exerciseOrder": ["ex-squat"]})),
        chunk("x"),
        chunk("m", text(session(7, "finish_workout_session", 120_000, endedAt=T0 + 120_000,
                                saveToHealth=True))),
        chunk("m", text(session(8, "cancel_workout_session", 130_000))),
        chunk("s", text({"kind": "full_snapshot", "protocolVersion": 2, "revision": 3,
                         "snapshot": snapshot(3, status="COMPLETE")})),
        chunk("d", b"mirrored"),
    ],
    # The user starts the workout and logs sets on the watch while the phone keeps up and
    # changes the catalogues.
    "user_and_phone": [
        text(CATALOGUE),
        chunk("m", bplist(snapshot(1, "NOT_STARTED", weight_plates=PLATES, weightPlatesRevision=1,
                                   availableWorkouts=[WORKOUT], availableWorkoutsRevision=1))),
        chunk("a", text({"action": "startWorkout", "workoutId": "wk-a"})),
        chunk("n"),
        chunk("a", text({"action": "keypad", "exerciseId": "ex-squat", "setIndex": 0,
                         "field": "weight", "keys": ["2", "3", "5"]})),
        chunk("a", text({"action": "actionButton", "exerciseId": "ex-squat", "setIndex": 0})),
        chunk("a", text({"action": "plateCalculator", "exerciseId": "ex-squat", "setIndex": 1})),
        chunk("a", text({"action": "actionButton", "exerciseId": "ex-plank", "setIndex": 0})),
        chunk("t", b"50"),
        chunk("a", text({"action": "openExercisePicker"})),
        chunk("a", text({"action": "pickExercise", "referenceExerciseId": "ref-bench"})),
        chunk("x"),
        chunk("a", text({"action": "finishWorkout"})),
        chunk("a", text({"action": "confirmFinish"})),
        chunk("k", b"Success"),
        chunk("u", text({"weightPlateUpdates": [{"id": "plate-5", "weight": 5, "units": "lb",
                                                 "quantity": 2}], "weightPlatesRevision": 2})),
        chunk("u", text({"referenceExercisesRevision": 2, "removedWeightPlateIds": ["plate-25"],
                         "weightPlateOrder": ["plate-2.5", "plate-45"],
                         "referenceExerciseUpdates": [{"id": "ref-row", "name": "Pendlay Row"}],
                         "weightPlatesRevision": 3})),
        chunk("c", text({"referenceExercisesRevision": 3, "removedReferenceExerciseIds": [
            "ref-plank"], "removedAvailableWorkoutIds": ["wk-a"], "availableWorkoutsRevision": 2,
            "referenceExerciseOrder": ["ref-row", "ref-bench"]})),
        chunk("r", text(dict(CATALOGUE, revision=4))),
    ],
}

if __name__ == "__main__":
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "corpus",
                                                             "inbound")
    os.makedirs(out, exist_ok=True)
    for name, chunks in SEEDS.items():
        assert not any(b"\n--\n" in part for part in chunks), name
        with open(os.path.join(out, name), "wb") as f:
            f.write(b"\n--\n".join(chunks))

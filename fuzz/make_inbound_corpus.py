#!/usr/bin/env python3
"""Writes the seed corpus for fuzz_inbound: short sessions with the phone, in the target's input
form (chunks separated by "\\n--\\n", each after the first led by its door's letter; see
fuzz_inbound.cpp). Messages are written as binary property lists, as the link carries them, or
as JSON, which the fuzzer changes more easily.

  make_inbound_corpus.py [OUT_DIR]   (default: corpus/inbound beside this script)
"""

import datetime
import json
import os
import plistlib
import sys

SEPARATOR = b"\n--\n"
# The manual executor's clock starts at 2026-01-05 09:00 UTC; the phone speaks in Unix milliseconds.
START_MS = int(datetime.datetime(2026, 1, 5, 9, tzinfo=datetime.timezone.utc).timestamp() * 1000)


def bplist(value):
    return plistlib.dumps(value, fmt=plistlib.FMT_BINARY)


def text(value):
    return json.dumps(value, separators=(",", ":")).encode()


def chunk(door, body=b""):
    return door.encode() + body


PLATES = [
    {"id": "plate-45", "weight": 45, "units": "lb", "quantity": 6},
    {"id": "plate-25", "weight": 25, "units": "lb", "quantity": 2},
    {"id": "plate-10", "weight": 10, "units": "lb", "quantity": 4},
    {"id": "plate-2.5", "weight": 2.5, "units": "lb", "quantity": 2},
]


def sets(prefix, count, weight, timer):
    return [
        {"id": f"{prefix}-{n}", "status": "NOT_STARTED", "setNumber": str(n + 1), "sequence": n,
         "type": "regular", "reps": "5", "weight": str(weight), "timerSeconds": timer}
        for n in range(count)
    ]


EXERCISES = [
    {"id": "ex-squat", "templateExerciseId": "tpl-squat", "name": "Back Squat",
     "status": "NOT_STARTED", "sequence": 0, "weightUnits": "lb", "timerSeconds": 120,
     "warmupTimerSeconds": 60, "equipment": "Barbell", "plateMultiplier": 2,
     "barbell": {"name": "Olympic", "weight": 45, "units": "lb"},
     "exerciseSets": sets("set-squat", 3, 225, 120)},
    {"id": "ex-plank", "templateExerciseId": "tpl-plank", "name": "Plank", "status": "NOT_STARTED",
     "sequence": 1, "isReps": False, "isWeight": False, "isDuration": True, "timerSeconds": 60,
     "equipment": "Bodyweight",
     "exerciseSets": [{"id": "set-plank-0", "status": "NOT_STARTED", "setNumber": "1",
                       "sequence": 0, "type": "regular", "duration": 45, "timerSeconds": 60}]},
]

WORKOUT = {"id": "wk-a", "name": "Day A", "status": "NOT_STARTED", "week": "1",
           "exercises": EXERCISES}

CATALOGUE_ITEMS = [
    {"id": "ref-bench", "name": "Bench Press", "equipment": "Barbell", "weightUnits": "lb",
     "restTimer": {"warmup": 60, "T1": 180, "supplemental": 120, "assistance": 90}},
    {"id": "ref-landmine", "name": "Landmine Press", "equipment": "Landmine"},
    {"id": "ref-plank", "name": "Plank", "isReps": False, "isWeight": False, "isDuration": True},
]


def catalogue_document(revision):
    return {"kind": "reference_exercises", "protocolVersion": 2, "revision": revision,
            "items": CATALOGUE_ITEMS}


def snapshot(revision, status="IN_PROGRESS", timer=None):
    message = {"syncRevision": revision,
               "workout": {"id": "wk-a", "name": "Day A", "status": status,
                           "dateStarted": START_MS},
               "exercises": EXERCISES}
    if timer is not None:
        message["restTimerData"] = timer
    return message


def rest_timer(timer_id, revision, start_ms, seconds, running=True, **extra):
    data = {"timerIsRunning": running, "timerId": timer_id, "timerRevision": revision,
            "startTime": start_ms, "timerSeconds": seconds, "isExerciseCountdown": False}
    data.update(extra)
    return data


def command(number, body, sequence=True):
    message = dict(body)
    message["commandId"] = f"cmd-{number}"
    if sequence:
        message["commandSequence"] = number
    return message


def session_command(key, at_ms, **extra):
    return {key: dict({"workoutId": "wk-a", "occurredAt": at_ms}, **extra)}


SEEDS = {
    # The catalogue kept from the last run, then the phone's changes to it.
    "catalogue_deltas": [
        text(catalogue_document(3)),
        chunk("m", bplist({"referenceExercisesRevision": 4,
                           "referenceExerciseUpdates": [{"id": "ref-row", "name": "Pendlay Row"}]})),
        chunk("c", text({"referenceExercisesRevision": 5,
                         "removedReferenceExerciseIds": ["ref-landmine"],
                         "referenceExerciseOrder": ["ref-plank", "ref-bench", "ref-row"]})),
        chunk("r", text(catalogue_document(6))),
    ],
    # The week's workouts and the plate inventory, whole and then as deltas.
    "catalogues_and_plates": [
        b"",
        chunk("m", bplist({"weight_plates": PLATES, "weightPlatesRevision": 1,
                           "availableWorkouts": [WORKOUT], "availableWorkoutsRevision": 1})),
        chunk("u", text({"weightPlateUpdates": [{"id": "plate-5", "weight": 5, "units": "lb",
                                                 "quantity": 2}],
                         "weightPlatesRevision": 2})),
        chunk("u", text({"removedWeightPlateIds": ["plate-25"],
                         "weightPlateOrder": ["plate-2.5", "plate-45"],
                         "weightPlatesRevision": 3})),
        chunk("m", text({"removedAvailableWorkoutIds": ["wk-a"], "availableWorkoutsRevision": 2})),
    ],
    # A running workout with a rest timer; the phone corrects the run, then stops it.
    "timer_correction": [
        b"",
        chunk("m", bplist(dict(snapshot(1, timer=rest_timer(
            "timer-1", 0, START_MS, 120, exerciseId="ex-squat", setCompletedIds=["set-squat-0"])),
            weight_plates=PLATES, weightPlatesRevision=1))),
        chunk("t", b"20"),
        chunk("m", bplist(command(1, {"timerCorrectionForId": "timer-1",
                                      "timerCorrectionForRevision": 0,
                                      "timerCorrectionForStartTime": START_MS,
                                      "restTimerData": rest_timer("timer-1", 1, START_MS, 45)}))),
        chunk("t", b"30"),
        chunk("m", text(command(2, {"timerCorrectionForId": "timer-1",
                                    "timerCorrectionForRevision": 1,
                                    "timerCorrectionForStartTime": START_MS,
                                    "restTimerData": rest_timer("timer-1", 2, START_MS, 45,
                                                                running=False)}))),
        chunk("t", b"120"),
    ],
    # The phone starts the health session, pauses, resumes and finishes it by numbered commands;
    # the watch's messages are acknowledged on the way.
    "session_commands": [
        b"",
        chunk("w", bplist({"activityType": 50, "locationType": 2})),
        chunk("m", bplist(snapshot(1))),
        chunk("m", bplist(command(1, {"syncWorkoutsToHealth": True}))),
        chunk("m", bplist(command(2, session_command("start_workout_session", START_MS + 1000)))),
        chunk("k", b"Success"),
        chunk("m", bplist(command(3, session_command("pause_workout_session_v2",
                                                     START_MS + 60_000)))),
        chunk("m", text(command(4, session_command("resume_workout_session_v2",
                                                   START_MS + 90_000)))),
        chunk("k", b"Retry"),
        chunk("f", b"failed"),
        chunk("m", text(command(5, session_command("finish_workout_session", START_MS + 120_000,
                                                   endedAt=START_MS + 120_000,
                                                   saveToHealth=True)))),
        chunk("m", text(command(6, session_command("cancel_workout_session", START_MS + 130_000),
                                sequence=False))),
    ],
    # The workout edited by deltas, then replaced by a full-snapshot file; a restart between.
    "deltas_and_snapshot_file": [
        b"",
        chunk("m", bplist(snapshot(1))),
        chunk("u", bplist({"syncRevision": 2, "syncSnapshotKind": "delta",
                           "exerciseUpdates": [dict(EXERCISES[0], name="Front Squat")],
                           "removedExerciseIds": ["ex-plank"], "exerciseOrder": ["ex-squat"]})),
        chunk("x"),
        chunk("s", text({"kind": "full_snapshot", "protocolVersion": 2, "revision": 3,
                         "snapshot": snapshot(3, status="COMPLETE")})),
        chunk("d", b"mirrored"),
    ],
    # The user starts the workout and completes a set on the watch while the phone keeps up.
    "user_and_phone": [
        text(catalogue_document(1)),
        chunk("m", bplist(dict(snapshot(1, status="NOT_STARTED"), weight_plates=PLATES,
                               weightPlatesRevision=1, availableWorkouts=[WORKOUT],
                               availableWorkoutsRevision=1))),
        chunk("a", text({"action": "startWorkout", "workoutId": "wk-a"})),
        chunk("n"),
        chunk("a", text({"action": "keypad", "exerciseId": "ex-squat", "setIndex": 0,
                         "field": "weight", "keys": ["2", "3", "5"]})),
        chunk("a", text({"action": "actionButton", "exerciseId": "ex-squat", "setIndex": 0})),
        chunk("a", text({"action": "plateCalculator", "exerciseId": "ex-squat", "setIndex": 1})),
        # The rest started five steps of a second in.
        chunk("m", text(command(1, {"timerCorrectionForStartTime": START_MS + 5000,
                                    "restTimerData": rest_timer("timer-2", 1, START_MS + 5000,
                                                                60)}))),
        chunk("a", text({"action": "actionButton", "exerciseId": "ex-plank", "setIndex": 0})),
        chunk("t", b"50"),
        chunk("a", text({"action": "openExercisePicker"})),
        chunk("a", text({"action": "pickExercise", "referenceExerciseId": "ref-bench"})),
        chunk("x"),
        chunk("m", bplist(snapshot(2))),
        chunk("a", text({"action": "finishWorkout"})),
        chunk("a", text({"action": "confirmFinish"})),
        chunk("k", b"Success"),
    ],
}


def main(argv):
    out_dir = argv[1] if len(argv) > 1 else os.path.join(os.path.dirname(__file__), "corpus", "inbound")
    os.makedirs(out_dir, exist_ok=True)
    for name, chunks in SEEDS.items():
        for part in chunks:
            assert SEPARATOR not in part, f"{name}: a chunk holds the separator"
        with open(os.path.join(out_dir, name), "wb") as f:
            f.write(SEPARATOR.join(chunks))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

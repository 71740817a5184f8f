#!/usr/bin/env bash
# Planted faults: each mutant below is one small change a developer could make in src/, and the
# unit, simulation and process tests must fail on it. Each is applied alone, built in its own
# Release tree (build-mutants), tested until the first failure, and its file is put back from git.
#
# Usage: scripts/mutants.sh [ID...]   all mutants, or only those named (then without the check of
#                                     the unchanged tree first)
#        scripts/mutants.sh --tests REGEX ID...   only the tests whose names match: which of them
#                                     catch the mutant, and how
#        scripts/mutants.sh --list    the mutants, what each plants and where, and any whose
#                                     original text is no longer in its file once
# Results: CAUGHT (a test failed or timed out), SURVIVED (every test passed), NO-BUILD (the change
# does not compile: counted apart, never as caught), BROKEN-DEFINITION (the original text is not
# in its file exactly once: the definition needs updating). The logs of each are in
# build-mutants/mutants/. Exit status 0 only when every mutant was caught.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-mutants
# Well above the slowest test (a simulation, about a minute on a busy machine); a mutant that
# makes a test hang counts as caught once this runs out.
test_timeout=${WRISTSIDE_MUTANTS_TEST_TIMEOUT:-300}
# 100 seeds of each simulation (the test suite runs up to 2000): a planted fault that the
# simulations catch at all shows within them, and the whole run stays within half an hour.
export WRISTSIDE_SIM_SEEDS=${WRISTSIDE_SIM_SEEDS:-100}
jobs=2

ids=() files=() whats=() originals=() replacements=()
# mutant ID FILE WHAT ORIGINAL REPLACEMENT: ORIGINAL must occur exactly once in FILE.
mutant() {
    ids+=("$1") files+=("$2") whats+=("$3") originals+=("$4") replacements+=("$5")
}

# The outbox: order, persistence, "Retry".
mutant outbox-newest-first src/sync/outbound/watch_sync_outbox.cpp \
    "a new message goes to the head of the outbox, not its tail" \
    'pending.push_back(PendingWatchSyncMessage{' \
    'pending.insert(pending.begin(), PendingWatchSyncMessage{'
mutant outbox-enqueue-unstored src/sync/outbound/watch_sync_outbox.cpp \
    "a new message is not stored until it is sent" \
    $'        pending.push_back(PendingWatchSyncMessage{id, std::move(*bytes), false});\n        persist();' \
    $'        pending.push_back(PendingWatchSyncMessage{id, std::move(*bytes), false});'
mutant outbox-send-before-store src/sync/outbound/watch_sync_outbox.cpp \
    "the transfer goes out before its queued flag is stored" \
    $'    persist();\n    session_.transferUserInfo(message);' \
    $'    session_.transferUserInfo(message);\n    persist();'
mutant outbox-retry-case src/sync/outbound/watch_sync_outbox.cpp \
    "\"Retry\" is recognised only in that exact case" \
    "return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;" \
    'return c;'
mutant outbox-retry-dropped src/sync/outbound/watch_sync_outbox.cpp \
    "a \"Retry\" answer schedules no second try" \
    $'                bookkeeping_->answered(syncId, *status);\n            }\n            scheduleRetry(syncId);' \
    $'                bookkeeping_->answered(syncId, *status);\n            }'
mutant outbox-retry-as-success src/sync/outbound/watch_sync_outbox.cpp \
    "a \"Retry\" answer to a message already handed to the link removes it as delivered" \
    '        if (retry) {' \
    '        if (retry && !message->queuedForTransfer) {'
mutant outbox-retry-delay src/sync/outbound/watch_sync_outbox.cpp \
    "the retry comes after 0.5 s instead of 5 s" \
    'asyncAfter(retryDelay,' \
    'asyncAfter(retryDelay / 10,'
mutant outbox-ack-stalls src/sync/outbound/watch_sync_outbox.cpp \
    "an acknowledgement does not send the next message" \
    $'        persist();\n        flushHead();\n    });\n}\n\nvoid WatchSyncOutbox::handleTransferFinished' \
    $'        persist();\n    });\n}\n\nvoid WatchSyncOutbox::handleTransferFinished'

# The current workout's revisions and the stale-workout guard.
mutant delta-at-last-delta-revision src/sync/inbound/workout_state.cpp \
    "a delta at the last delta's revision is applied again" \
    'revision <= *lastDeltaRevision' \
    'revision < *lastDeltaRevision'
mutant snapshot-at-last-delta-refused src/sync/inbound/workout_state.cpp \
    "a snapshot at the last delta's revision is refused" \
    '(lastDeltaRevision && revision < *lastDeltaRevision)' \
    '(lastDeltaRevision && revision <= *lastDeltaRevision)'
mutant snapshot-repeated src/sync/inbound/workout_state.cpp \
    "a snapshot at the last snapshot's revision is applied again" \
    'revision <= *lastSnapshotRevision)) {' \
    'revision < *lastSnapshotRevision)) {'
mutant stale-guard-ended-workout src/sync/inbound/workout_state.cpp \
    "the phone's running copy of a workout the watch ended is taken" \
    'incomingRunning && outbox_.hasPendingWorkoutEnd(*incomingId)' \
    'false'
mutant stale-guard-timer-event src/sync/inbound/workout_state.cpp \
    "an unacknowledged timer event does not guard the running workout" \
    '(timerId && outbox_.hasPendingTimerEvent(*timerId))' \
    'false'
mutant stale-guard-ended-by-phone src/sync/inbound/workout_state.cpp \
    "the phone's ended copy of the workout the watch just started is taken" \
    'return !incomingRunning || *incomingId != workoutId.get();' \
    'return *incomingId != workoutId.get();'

# Catalogues.
mutant catalogue-equal-revision src/sync/inbound/catalogues.cpp \
    "a catalogue at its current revision is applied again" \
    '*stored >= *incoming' \
    '*stored > *incoming'
mutant plates-not-saved src/sync/inbound/catalogues.cpp \
    "the phone's plate inventory is not stored" \
    $'    restTimer_->saveAvailableWeightPlates();\n' \
    ''
mutant exercises-equal-revision src/sync/inbound/reference_catalogue.cpp \
    "an exercise catalogue change at its current revision is applied again" \
    '*lastReferenceExercisesRevision >= *revision' \
    '*lastReferenceExercisesRevision > *revision'
mutant catalogue-file-no-directory src/sync/inbound/reference_catalogue.cpp \
    "the catalogue file is written without creating its directory" \
    $'!files_.createDirectories(directory, &error) ||\n        !files_.writeAtomically(' \
    '!files_.writeAtomically('
mutant catalogue-file-failure-ignored src/sync/inbound/reference_catalogue.cpp \
    "a failed catalogue write still counts as stored" \
    $'log_.line("Unable to persist Watch reference exercises: " + error);\n        return;' \
    'log_.line("Unable to persist Watch reference exercises: " + error);'
mutant atomic-write-leaves-temporary src/platform/files/file_system.cpp \
    "a failed atomic write leaves its temporary file behind" \
    $'        ::unlink(temporary.c_str());\n' \
    ''

# Phone commands.
mutant command-applied-twice src/sync/inbound/phone_commands.cpp \
    "a command id already processed is applied again" \
    $'    if (isProcessedCommand(commandId)) {\n        return;\n    }\n' \
    ''
mutant command-equal-sequence src/sync/inbound/phone_commands.cpp \
    "a command at the last applied sequence is applied" \
    'lastPhoneCommandSequence >= *sequence' \
    'lastPhoneCommandSequence > *sequence'
mutant command-session-ordered src/sync/inbound/phone_commands.cpp \
    "health session commands fall under the sequence rule" \
    'correctsTimer || holdsAnyKey(message, sessionCommandKeys)' \
    'correctsTimer'
mutant command-sequence-unstored src/sync/inbound/phone_commands.cpp \
    "the last applied sequence is not stored" \
    $'        defaults_.setDouble(lastPhoneCommandSequenceKey, lastPhoneCommandSequence);\n' \
    ''
mutant command-window-499 src/sync/inbound/phone_commands.cpp \
    "the processed-command window keeps 499 ids, not 500" \
    'processed.end() - static_cast<std::ptrdiff_t>(maxProcessedPhoneCommands)' \
    'processed.end() - static_cast<std::ptrdiff_t>(maxProcessedPhoneCommands - 1)'

# The rest timer and the plates.
mutant timer-not-kept-back src/timer/rest_timer_manager.cpp \
    "a stored timer is dropped while its workout's start is unacknowledged" \
    'sessionWorkout && outbox_.hasPendingStartWorkout(*sessionWorkout)' \
    'false'
mutant timer-event-unstored src/timer/rest_timer_manager.cpp \
    "a stopped timer's undelivered event is not stored" \
    'if (!timerIsRunning.get() && !pendingTimerEvent) {' \
    'if (!timerIsRunning.get()) {'
mutant timer-stored-copy-overwritten src/timer/rest_timer_manager.cpp \
    "the stored timer is overwritten before it is applied or dropped" \
    $'    if (restoredTimerSession) {\n        return;\n    }\n' \
    ''
mutant countdown-rest-from-now src/timer/timer_runs.cpp \
    "the rest after a countdown counts from when it is noticed, not from its end" \
    'const Date end = std::min(timerEndTime(), referenceDate);' \
    'const Date end = referenceDate;'
mutant timer-alert-whole-duration src/timer/timer_runs.cpp \
    "the end-of-rest notification ignores the time already elapsed" \
    'scheduleAlert(std::ceil(duration - elapsed), countdownRun);' \
    'scheduleAlert(std::ceil(duration), countdownRun);'
mutant plates-uneven src/timer/plates.cpp \
    "a plate count is not rounded down to whole plates per side" \
    $'        count -= count % sides;\n' \
    ''
mutant plates-exact-fit-skipped src/timer/plates.cpp \
    "a plate that exactly fills the rest of the target is skipped" \
    'weight > targetWeight - loaded' \
    'weight >= targetWeight - loaded'
mutant plates-inventory-ignored src/timer/plates.cpp \
    "more plates are loaded than the inventory holds" \
    'count = std::min(count, usable);' \
    'count = std::max(count, usable);'
mutant plates-negative-unlimited src/timer/plates.cpp \
    "a negative plate quantity counts as unlimited" \
    'const bool unlimited = plate->quantity == 0;' \
    'const bool unlimited = plate->quantity <= 0;'
mutant plate-inventory-partial src/timer/plate_inventory.cpp \
    "a stored inventory with a broken plate is read without it" \
    $'        if (!plate) {\n            return std::nullopt;\n        }' \
    $'        if (!plate) {\n            continue;\n        }'

# The link's de-duplication.
mutant link-userinfo-redelivered src/platform/link/session_engine.cpp \
    "a transfer the watch already received is delivered again" \
    'if (!delivered_.contains(userInfo.id)) {' \
    'if (true) {'
mutant link-delivered-unstored src/platform/link/delivered_ids.cpp \
    "the delivered ids are not stored, so a restart forgets them" \
    $'    store_.setStringList(key_, std::vector<std::string>(order_.begin(), order_.end()));\n' \
    ''
mutant link-remembered-after-delivery src/platform/link/session_engine.cpp \
    "a transfer is remembered only after its delivery" \
    $'        delivered_.insert(userInfo.id);\n        d->didReceiveUserInfo(userInfo.body);' \
    $'        d->didReceiveUserInfo(userInfo.body);\n        delivered_.insert(userInfo.id);'

# Decoding defaults.
mutant decode-multiplier-default src/model/decoding.cpp \
    "an exercise without a plate multiplier gets 1 instead of 2" \
    'asInteger(multiplier).value_or(2)' \
    'asInteger(multiplier).value_or(1)'
mutant decode-weight-default src/model/decoding.cpp \
    "a set without a weight gets \"\" instead of \"0\"" \
    'lookup(dictionary, "weight")).value_or("0")' \
    'lookup(dictionary, "weight")).value_or("")'
mutant decode-warmup-default src/model/decoding.cpp \
    "a missing warm-up rest is 0 instead of the exercise's rest" \
    '.value_or(exercise->timerSeconds)' \
    '.value_or(0)'

# The screens' logic.
mutant keypad-first-key-appends src/screens/logic/numeric_keypad.cpp \
    "the first key appends to the old value instead of replacing it" \
    'state.text = std::string(keyString);' \
    'state.text += keyString;'
mutant finish-nothing-done-completes src/screens/logic/main_screen.cpp \
    "finishing a workout with no set done completes it instead of cancelling" \
    'if (exercises.empty() || !anySetDone(exercises)) {' \
    'if (exercises.empty()) {'
mutant finish-some-open-completes src/screens/logic/main_screen.cpp \
    "a workout with open sets completes without the confirmation" \
    'const bool allDone = std::none_of(' \
    'const bool allDone = !std::all_of('
mutant finish-confirm-ignored src/screens/logic/main_screen.cpp \
    "confirming the finish sheet does not complete the workout" \
    $'    completeWorkoutAfterSheetDismisses_ = true;\n    showingWorkoutFinish = false;' \
    $'    showingWorkoutFinish = false;'

# The health session's ownership.
mutant ownership-boundary src/session/workout_manager.cpp \
    "a command exactly at the start of the ownership allowance is refused" \
    'std::llround(earlier * 1e6) >= std::llround(' \
    'std::llround(earlier * 1e6) > std::llround('
mutant ownership-earliest-claim src/session/workout_manager.cpp \
    "a second claim moves the ownership start back to the earlier date" \
    'std::max(*workoutOwnershipStartedAt_, *date)' \
    'std::min(*workoutOwnershipStartedAt_, *date)'

usage() {
    awk 'NR > 1 && !/^#/ { exit } NR > 1 { sub(/^# ?/, ""); print }' "$0"
}

# The mutants, each marked BROKEN-DEFINITION when its original text is not in its file once.
list() {
    local i mark
    for i in "${!ids[@]}"; do
        mark=""
        if ! replace "$root/${files[$i]}" "${originals[$i]}" "${replacements[$i]}" check 2>/dev/null
        then
            mark=" BROKEN-DEFINITION"
        fi
        printf '%-32s %-45s %s%s\n' "${ids[$i]}" "${files[$i]}" "${whats[$i]}" "$mark"
    done
}

# replace FILE ORIGINAL REPLACEMENT [check]: replaces the one occurrence of ORIGINAL, or with
# "check" only counts; fails (status 3, the count on stderr) when there is not exactly one.
replace() {
    ORIGINAL=$2 REPLACEMENT=$3 perl -e '
        my ($file, $check) = @ARGV;
        open(my $in, "<", $file) or die "$file: $!\n";
        my $text = do { local $/; <$in> };
        close $in;
        my ($original, $replacement) = ($ENV{ORIGINAL}, $ENV{REPLACEMENT});
        my ($count, $at, $from) = (0, -1, 0);
        while ((my $i = index($text, $original, $from)) >= 0) {
            ($count, $at, $from) = ($count + 1, $i, $i + 1);
        }
        if ($count != 1) {
            print STDERR "found $count times\n";
            exit 3;
        }
        exit 0 if $check;
        substr($text, $at, length $original) = $replacement;
        open(my $out, ">", $file) or die "$file: $!\n";
        print $out $text;
        close $out or die "$file: $!\n";
    ' "$1" "${4:-}"
}

selected=()
baseline=1
test_names=""
while (($# > 0)); do
    case $1 in
    --list) list; exit 0 ;;
    -h | --help) usage; exit 0 ;;
    --tests)
        (($# > 1)) || { echo "--tests needs a regular expression" >&2; exit 2; }
        test_names=$2
        shift
        ;;
    -*) echo "unknown option $1" >&2; usage >&2; exit 2 ;;
    *)
        found=""
        for i in "${!ids[@]}"; do
            [[ ${ids[$i]} == "$1" ]] && found=$i
        done
        if [[ -z $found ]]; then
            echo "no mutant $1 (scripts/mutants.sh --list)" >&2
            exit 2
        fi
        selected+=("$found")
        baseline=0
        ;;
    esac
    shift
done
if ((${#selected[@]} == 0)); then
    selected=("${!ids[@]}")
fi

cd "$root"
# A mutated file is put back from git, so it must hold nothing that git does not.
for i in "${selected[@]}"; do
    if ! git diff --quiet HEAD -- "${files[$i]}"; then
        echo "refusing to start: ${files[$i]} has uncommitted changes" >&2
        exit 2
    fi
done

applied=""
restore() {
    if [[ -n $applied ]]; then
        git checkout --quiet -- "$applied"
        applied=""
    fi
}
trap restore EXIT
trap 'restore; echo "interrupted; every file is back as git has it" >&2; exit 130' INT TERM

logs=$build/mutants
if [[ ! -f $build/build.ninja ]]; then
    launcher=()
    if command -v ccache >/dev/null; then
        export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(dirname "$root")}
        launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
    fi
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release "${launcher[@]}" >/dev/null
fi
mkdir -p "$logs"

# build LOG [PROGRAM...]: the given programs (paths under the build tree), or everything.
build() {
    local log=$1
    shift
    if (($# == 0)); then
        cmake --build "$build" -j "$jobs" >>"$log" 2>&1
    else
        cmake --build "$build" -j "$jobs" --target "$@" >>"$log" 2>&1
    fi
}

started=$SECONDS
echo "building $build"
: >"$logs/unchanged.build.log"
if ! build "$logs/unchanged.build.log"; then
    echo "the unchanged tree does not build: see $logs/unchanged.build.log" >&2
    exit 1
fi

# The tests as ctest numbers them: "number label folder program" lines for the unit, simulation
# and process tests, the folder of the program under tests/ and the program as a build target.
ctest --test-dir "$build" --show-only=json-v1 >"$logs/tests.json"
perl -MJSON::PP -e '
    my $tests = decode_json(do { local $/; <STDIN> })->{tests};
    my $tree = "$ARGV[0]/";
    for my $n (1 .. @$tests) {
        my $test = $tests->[$n - 1];
        my ($label) = map { @{ $_->{value} } } grep { $_->{name} eq "LABELS" }
            @{ $test->{properties} || [] };
        next unless defined $label && $label =~ /^(unit|sim|process)$/;
        next if length $ARGV[1] && $test->{name} !~ /$ARGV[1]/;
        (my $program = $test->{command}[0] // "") =~ s{^\Q$tree\E}{};
        (my $folder = $program) =~ s{^tests/}{};
        $folder =~ s{/?[^/]*$}{};
        print "$n $label $folder $program\n";
    }
' "$build" "$test_names" <"$logs/tests.json" >"$logs/tests.txt"
if [[ ! -s $logs/tests.txt ]]; then
    echo "ctest lists no unit, simulation or process tests${test_names:+ matching $test_names} in $build" >&2
    exit 1
fi

# run_group LOG all|programs NUMBER...: builds what the tests need (their programs, or everything
# for tests that start other programs), then runs them two at a time until the first failure.
# Status 0: all passed; 1: a test failed; 2: the build failed.
run_group() {
    local log=$1 what=$2
    shift 2
    (($# > 0)) || return 0
    local -a targets=()
    if [[ $what == programs ]]; then
        local number label folder program
        while read -r number label folder program; do
            [[ " $* " == *" $number "* ]] && targets+=("$program")
        done <"$logs/tests.txt"
        mapfile -t targets < <(printf '%s\n' "${targets[@]}" | sort -u)
    fi
    build "$log" "${targets[@]}" || return 2
    local list
    list=$(IFS=,; echo "$1,$1,1,$*")
    # A runaway test must not take the machine's memory with it.
    (
        ulimit -v $((4 * 1024 * 1024))
        ctest --test-dir "$build" -I "$list" --timeout "$test_timeout" --stop-on-failure \
            -j "$jobs" --output-on-failure
    ) >>"$log" 2>&1 || return 1
}

# run_tests FILE LOG: the unit tests of FILE's own folder first, then those of the rest of its
# layer, the other unit tests, the simulations and the process tests, until the first failure.
# Status as run_group's.
run_tests() {
    local folder layer
    folder=$(dirname "${1#src/}")
    layer=${folder%%/*}
    local -a own=() near=() unit=() sim=() process=()
    local number label where program
    while read -r number label where program; do
        if [[ $label == unit && $where == "$folder" ]]; then
            own+=("$number")
        elif [[ $label == unit && ($where == "$layer" || $where == "$layer"/*) ]]; then
            near+=("$number")
        elif [[ $label == unit ]]; then
            unit+=("$number")
        elif [[ $label == sim ]]; then
            sim+=("$number")
        else
            process+=("$number")
        fi
    done <"$logs/tests.txt"
    run_group "$2" programs "${own[@]}" && run_group "$2" programs "${near[@]}" &&
        run_group "$2" programs "${unit[@]}" && run_group "$2" programs "${sim[@]}" &&
        run_group "$2" all "${process[@]}"
}

# The first failing test of a log and how it failed, for the report.
first_failure() {
    perl -ne 'if (/Test +#\d+: (\S+) \.*\s*\*\*\*(\w+)/) { print "$1 ($2)"; exit }' "$1"
}

if ((baseline)); then
    printf '%-32s ' "(unchanged tree)"
    began=$SECONDS
    : >"$logs/unchanged.test.log"
    if ! run_tests src/none "$logs/unchanged.test.log"; then
        echo "FAILS: $(first_failure "$logs/unchanged.test.log")"
        echo "the tests fail without any mutant: see $logs/unchanged.test.log" >&2
        exit 1
    fi
    echo "passes ($((SECONDS - began)) s)"
fi

caught=0 survived=0 nobuild=0 broken=0
survivors=()
for i in "${selected[@]}"; do
    id=${ids[$i]} file=${files[$i]}
    log=$logs/$id.log
    : >"$log"
    printf '%-32s ' "$id"
    began=$SECONDS
    if ! replace "$file" "${originals[$i]}" "${replacements[$i]}" check 2>>"$log"; then
        broken=$((broken + 1))
        echo "BROKEN-DEFINITION (original text $(tail -1 "$log") in $file)"
        continue
    fi
    applied=$file
    replace "$file" "${originals[$i]}" "${replacements[$i]}"
    status=0
    run_tests "$file" "$log" || status=$?
    restore
    case $status in
    0)
        survived=$((survived + 1))
        survivors+=("$id")
        echo "SURVIVED ($((SECONDS - began)) s)"
        ;;
    1)
        caught=$((caught + 1))
        echo "CAUGHT ($((SECONDS - began)) s) by $(first_failure "$log")"
        ;;
    *)
        nobuild=$((nobuild + 1))
        echo "NO-BUILD ($((SECONDS - began)) s) see $log"
        ;;
    esac
done

echo
summary="$caught caught, $survived survived"
((nobuild == 0)) || summary+=", $nobuild did not build"
((broken == 0)) || summary+=", $broken with a broken definition"
echo "$summary ($((SECONDS - started)) s in all)"
if ((survived > 0)); then
    echo "survived: ${survivors[*]}"
fi
((survived == 0 && nobuild == 0 && broken == 0))

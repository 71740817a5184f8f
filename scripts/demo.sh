#!/usr/bin/env bash
# The demo, with the embedded defaults. Today it shows the one path that exists end to end: the
# phone counterpart writes its first workout as the phone sends it, and the watch decodes it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"
"$root/scripts/build.sh" "$build" >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo "== What this demo is: the workout model only. The phone link, the rest timer, the health"
echo "== session and the screens are not built yet; phone-sim and the watch meet through a file."
echo
"$build/src/phone/phone-sim" --write-snapshot "$work/snapshot.bplist"
echo
"$build/src/app/wristside" --headless --snapshot "$work/snapshot.bplist"

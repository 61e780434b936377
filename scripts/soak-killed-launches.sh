#!/usr/bin/env bash
# Soak of the sweep of killed launches' run folders (linux-x64): LAUNCHES
# launches of a packed application, one in ten killed with SIGKILL at a
# random moment, then one more normal launch with -D*. Afterwards no run
# folder may be left and nothing else in the temp path (or behind a link
# there) may have changed. Prints the figures.
#
#   bash scripts/soak-killed-launches.sh STUB PACK [LAUNCHES] [--age-by-touch]
#
# The sweep only removes folders unchanged for a minute: the last launch
# waits 61 s for that, or, with --age-by-touch (the short run in the test
# suite), the folders left are dated back two minutes instead.
set -uo pipefail
stub=$1
pack=$2
launches=${3:-1000}
age_by_touch=${4:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tmp=$work/tmp
outside=$work/outside
mkdir -p "$tmp" "$outside" "$work/src" "$work/app"
export TMPDIR=$tmp
fail() { echo "soak: $*"; exit 1; }

# Eight files of 512 KiB, so that a kill can land during the extraction.
args=()
for i in 1 2 3 4 5 6 7 8; do
  head -c 524288 /dev/urandom > "$work/src/part$i.bin"
  args+=(--file "$work/src/part$i.bin=lib/part$i.bin")
done
# A main that returns at once and prints nothing: every launch runs the VM.
mkdir -p "$work/classes"
echo 'public class SoakMain { public static void main(String[] a) {} }' > "$work/classes/SoakMain.java"
javac --release 8 -d "$work/classes" "$work/classes/SoakMain.java" 2>/dev/null || fail "javac failed"
jar --create --file "$work/src/app.jar" -C "$work/classes" SoakMain.class || fail "jar failed"
exe=$work/app/soak-app
"$pack" --stub "$stub" --out "$exe" --name "Soak App" --jar "$work/src/app.jar" --main SoakMain "${args[@]}" >/dev/null ||
  fail "glimvane-pack failed"

# What must survive: a folder of another program, run-id names without a
# mark, with a live owner (this shell), a link to a folder that looks
# ready for the sweep, and a plain file.
dead_mark=$'glimvane-owner 2147483632 1\n'
self_start=$(sed 's/.*) //' /proc/$$/stat | cut -d' ' -f20)
mkdir -p "$tmp/other-app" "$tmp/GVDEC0" "$tmp/GVDEC3"
echo keep > "$tmp/other-app/keep.txt"
echo keep > "$tmp/GVDEC0/keep.txt"
printf 'glimvane-owner %d %s\n' $$ "$self_start" > "$tmp/GVDEC3/.glimvane-owner"
echo keep > "$tmp/GVDEC3/keep.txt"
printf '%s' "$dead_mark" > "$outside/.glimvane-owner"
echo precious > "$outside/precious.txt"
ln -s "$outside" "$tmp/GVDEC1"
printf '%s' "$dead_mark" > "$tmp/GVDEC2"
decoys=(other-app GVDEC0 GVDEC1 GVDEC2 GVDEC3)
touch -h -d '2 minutes ago' "$tmp/GVDEC0" "$tmp/GVDEC1" "$tmp/GVDEC3" "$outside"
snapshot() {
  (cd "$work" && find tmp/other-app tmp/GVDEC0 tmp/GVDEC1 tmp/GVDEC2 tmp/GVDEC3 outside \
    -printf '%p %y %s %m %u %T@\n' | sort && find outside tmp/other-app tmp/GVDEC0 tmp/GVDEC3 -type f -exec md5sum {} + | sort)
}
before=$(snapshot)

run_folders() {
  find "$tmp" -mindepth 1 -maxdepth 1 -name 'GV*' $(printf -- '-not -name %s ' "${decoys[@]}")
}

# A normal launch's duration, to spread the kills over a whole launch.
start=$(date +%s%N)
for _ in 1 2 3 4 5; do "$exe" >/dev/null 2>&1; done
span_us=$((($(date +%s%N) - start) / 5000 * 2))
[ "$span_us" -gt 0 ] || span_us=1000

kills=0 landed=0 no_folder=0 extracting=0 extracted=0 failed=0
for i in $(seq "$launches"); do
  if [ $((i % 10)) -eq 0 ]; then
    kills=$((kills + 1))
    "$exe" >/dev/null 2>&1 &
    pid=$!
    delay=$(((RANDOM * 32768 + RANDOM) % span_us))
    sleep "$(printf '%d.%06d' $((delay / 1000000)) $((delay % 1000000)))"
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    [ $? -eq 137 ] || continue
    landed=$((landed + 1))
    folder=$(find "$tmp" -maxdepth 1 -regextype egrep -regex ".*/GV[0-9A-F]{1,4}$(printf %X "$pid")" | head -1)
    if [ -z "$folder" ]; then
      no_folder=$((no_folder + 1))
    elif [ -e "$folder/lib/part8.bin" ] && [ "$(stat -c %s "$folder/lib/part8.bin")" -eq 524288 ]; then
      extracted=$((extracted + 1))
    else
      extracting=$((extracting + 1))
    fi
  else
    "$exe" >/dev/null 2>&1 || failed=$((failed + 1))
  fi
done
# The removal children of the normal launches finish.
sleep 2
left_before=$(run_folders | wc -l)

if [ "$age_by_touch" = --age-by-touch ]; then
  run_folders | xargs -r touch -d '2 minutes ago'
else
  sleep 61
fi
start=$(date +%s%N)
"$exe" -D* > "$work/last.log" 2>&1 || fail "the last launch failed: $(cat "$work/last.log")"
last_ms=$((($(date +%s%N) - start) / 1000000))
for _ in $(seq 300); do
  [ "$(run_folders | wc -l)" -eq 0 ] && break
  sleep 0.1
done
sleep 0.5  # the child's last lines
left_after=$(run_folders | wc -l)
swept=$(grep -c '^!sweep\.removed=' "$work/last.log")

echo "launches: $launches + 1 (normal launches that failed: $failed)"
echo "kills: $kills sent, $landed landed (before the run folder: $no_folder, during extraction: $extracting, after it: $extracted)"
echo "run folders left before the last launch: $left_before, after it: $left_after"
echo "the last launch: $last_ms ms; its removal child removed $swept folders of killed launches"
[ "$failed" -eq 0 ] || fail "normal launches failed"
[ "$left_after" -eq 0 ] || fail "run folders left: $(run_folders)"
[ "$swept" -eq "$left_before" ] || fail "the sweep logged $swept removals of $left_before folders: $(cat "$work/last.log")"
[ "$(snapshot)" = "$before" ] || fail "something outside the run folders changed: $(diff <(echo "$before") <(snapshot))"
[ "$(find "$tmp" -mindepth 1 -maxdepth 1 | wc -l)" -eq "${#decoys[@]}" ] || fail "new entries in the temp path: $(ls -A "$tmp")"

# Without -D* the removal child sweeps in silence.
mkdir "$tmp/GV1DEAD"
printf '%s' "$dead_mark" > "$tmp/GV1DEAD/.glimvane-owner"
touch -d '2 minutes ago' "$tmp/GV1DEAD"
"$exe" > "$work/quiet.log" 2>&1 || fail "the quiet launch failed"
for _ in $(seq 100); do [ -e "$tmp/GV1DEAD" ] && sleep 0.1; done
sleep 0.5
[ ! -e "$tmp/GV1DEAD" ] || fail "the quiet launch's removal child swept nothing"
[ ! -s "$work/quiet.log" ] || fail "output without -D*: $(cat "$work/quiet.log")"
echo "soak: ok"

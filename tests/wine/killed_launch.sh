#!/usr/bin/env bash
# The windows-x64 launcher under Wine: a launch killed while it extracts
# (SIGKILL to its Wine process: taskkill /F starts too slowly to catch it)
# leaves its run folder, marked with its owner; the next
# launch's removal child removes it once it is a minute old, and logs that
# with -D*.
stub=$1
pack=$2
source "$(dirname "$0")/lib.sh"

mkdir -p "$work/app"
# 100 MB take a second or more to extract: time to kill the launch.
head -c 100000000 /dev/urandom > "$work/big.bin"
"$pack" --stub "$stub" --out "$work/app/demo.exe" --name "Demo App" --jar "$work/app.jar" \
  --file "$work/big.bin=big.bin" >/dev/null || fail "glimvane-pack failed"
rm "$work/big.bin"

launch "$work/app" demo.exe -D* -Q*
expect_launched big.bin
temp=$(winepath -u "$(printf '%s\n' "$out" | sed -n 's/^!temp\.path=\(.*\) \[[0-9]*\]$/\1/p')" 2>/dev/null)
[ -d "$temp" ] || fail "no temp path in the log"
runs() { find "$temp" -mindepth 1 -maxdepth 1 -name 'GV*' -newer "$work/app/demo.exe"; }

(cd "$work/app" && exec wine demo.exe -Q* >/dev/null 2>&1) &
pid=$!
folder=
for _ in $(seq 600); do
  folder=$(runs | head -1)
  [ -n "$folder" ] && [ -e "$folder/.glimvane-owner" ] && break
  sleep 0.05
done
[ -e "$folder/.glimvane-owner" ] || fail "the launch made no marked run folder"
kill -KILL "$pid"
wait "$pid" 2>/dev/null
sleep 2
[ -e "$folder/.glimvane-owner" ] || fail "the killed launch's folder $folder went without a sweep"
[ ! -e "$folder/big.bin" ] || [ "$(stat -c %s "$folder/big.bin")" -lt 100000000 ] ||
  fail "the launch ended before the kill"

# A minute later (dated back), the next launch's removal child removes it.
touch -d '2 minutes ago' "$folder"
launch "$work/app" demo.exe -D* -Q*
expect_launched big.bin
[ ! -e "$folder" ] || fail "the killed launch's folder $folder is still there"
has_line "sweep.removed=$(winepath -w "$folder" 2>/dev/null)" || fail "no sweep.removed line"
echo "$name: ok"

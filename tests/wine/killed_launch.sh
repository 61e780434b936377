#!/usr/bin/env bash
# The windows-x64 launcher under Wine: a launch killed while its VM runs
# (SIGKILL to its Wine process: taskkill /F starts too slowly to catch it)
# leaves its run folder, marked with its owner; the next
# launch's removal child removes it once it is a minute old, and logs that
# with -D*.
stub=$1
pack=$2
source "$(dirname "$0")/lib.sh"

# Two packages on the test VM: the one that is killed keeps a VM thread for
# a minute, so the kill lands while it runs; the other ends at once.
mkdir -p "$work/slow" "$work/app"
install_runtime "$work/slow/jre"
install_runtime "$work/app/jre"
pack_vm "$work/slow/slow.exe" -Dtestvm.thread=60000 --name "Slow App" --var 'jvm=jre\bin\server\jvm.dll'
pack_vm "$work/app/demo.exe" "" --name "Demo App" --var 'jvm=jre\bin\server\jvm.dll'

vm_launch "$work/app" demo.exe -D* -Q*
[ $rc -eq 0 ] || fail "exit code $rc"
expect_removed
temp=$(winepath -u "$(value temp.path)" 2>/dev/null)
[ -d "$temp" ] || fail "no temp path in the log"
runs() { find "$temp" -mindepth 1 -maxdepth 1 -name 'GV*' -newer "$work/slow/slow.exe"; }

(cd "$work/slow" && exec wine slow.exe -Q* >/dev/null 2>&1) &
pid=$!
folder=
for _ in $(seq 600); do
  folder=$(runs | head -1)
  [ -n "$folder" ] && [ -e "$folder/.glimvane-owner" ] && [ -e "$folder/app.jar" ] && break
  sleep 0.05
done
[ -e "$folder/.glimvane-owner" ] || fail "the launch made no marked run folder"
sleep 1  # into the VM's minute
kill -KILL "$pid" || fail "the launch ended before the kill"
wait "$pid" 2>/dev/null
sleep 2
[ -e "$folder/.glimvane-owner" ] || fail "the killed launch's folder $folder went without a sweep"

# A minute later (dated back), the next launch's removal child removes it.
touch -d '2 minutes ago' "$folder"
vm_launch "$work/app" demo.exe -D* -Q*
[ $rc -eq 0 ] || fail "exit code $rc"
expect_removed
[ ! -e "$folder" ] || fail "the killed launch's folder $folder is still there"
has_line "sweep.removed=$(winepath -w "$folder" 2>/dev/null)" || fail "no sweep.removed line"
echo "$name: ok"

#!/usr/bin/env bash
# One instance under Wine: while the first launch of a package runs (the
# test VM keeps it alive with a non-daemon thread), a second launch hands
# its words over through the session's named objects and ends with 0
# without loading a VM; the instance calls the named method with them on a
# thread of its own, attached to the VM. Once it has ended, the next launch
# is the instance again.
stub=$1
pack=$2
source "$(dirname "$0")/lib.sh"

install_runtime "$work/jre"
pack_vm "$work/Once.exe" '-Dtestvm.thread=6000' --var 'jvm=jre\bin\server\jvm.dll' \
  --single-instance app.Main.openFiles
rm -f "$record"
(cd "$work" && timeout 120 wine Once.exe -D* >"$work/first.txt" 2>&1; echo $? >"$work/first.rc") &
for _ in $(seq 300); do
  grep -q '^!vm.main.invoke ' "$work/first.txt" && break
  sleep 0.1
done
out=$(tr -d '\r' <"$work/first.txt")
[ -n "$(value instance.serving)" ] || fail "the first launch is not the instance"

launch "$work" Once.exe -D* a "b c"
[ $rc -eq 0 ] || fail "the second launch ended with $rc"
[[ "$(value instance.handed)" =~ ^instance\.[0-9a-f]{16}\ \[PID=[0-9]+\]$ ]] || fail "the second launch did not hand over"
! has_line "jvm=" || fail "the second launch went on to a VM"
[ -z "$(value temp.folder)" ] || fail "the second launch made a temp folder"

for _ in $(seq 100); do
  [ "$(recorded static.called)" == "app/Main.openFiles 2" ] && break
  sleep 0.1
done
expect_recorded static.called "app/Main.openFiles 2"
expect_recorded static.word $'a\nb c'
grep -qx 'attach.name=glimvane-instance' "$record" || fail "the method was not called on an attached thread of its own"

wait
[ "$(cat "$work/first.rc")" == 0 ] || fail "the instance ended with $(cat "$work/first.rc")"
out=$(tr -d '\r' <"$work/first.txt")
expect_removed
vm_launch "$work" Once.exe -D* again
[ $rc -eq 0 ] || fail "the launch after the instance ended with $rc"
has_line "vm.main.invoke" || fail "the launch after the instance did not start the program"
[ -n "$(value instance.serving)" ] || fail "the launch after the instance is not the instance"
echo "$name: ok"

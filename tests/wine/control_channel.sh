#!/usr/bin/env bash
# The control channel of a running launcher under Wine, asked by the Windows
# glimvane-ctl through the named objects: "status" answers the original EXE
# name and the process id, a stack dump attaches a thread to the VM and the
# VM's dump output goes into the file instead of the console (through the
# relay of the windowed stub; the console stub, which has none, points its
# standard output at the file); the launch waits in DestroyJavaVM for the
# VM's non-daemon thread, then ends with 0 and leaves no channel behind.
stub=$1
pack=$2
source "$(dirname "$0")/lib.sh"
ctl=$(cd "$(dirname "$stub")" && pwd)/glimvane-ctl.exe

ctl() {
  out=$(cd "$work" && timeout 120 wine "$ctl" "$@" 2>&1 | tr -d '\r')
  rc=$?
}

install_runtime "$work/jre"

# channel_case EXTRA_JOP [PACK OPTIONS...]
channel_case() {
  local extra=$1
  shift
  pack_vm "$work/Busy App.exe" "-Dtestvm.thread=8000 \"-Dtestvm.say=working hard\" $extra" --var 'jvm=jre\bin\server\jvm.dll' "$@"
  rm -f "$record" "$work/dumps here/stacks.txt"
  (cd "$work" && timeout 120 wine "Busy App.exe" -D* >"$work/launch.txt" 2>&1; echo $? >"$work/launch.rc") &
  for _ in $(seq 300); do
    grep -q '^!vm.java.invoke ' "$work/launch.txt" && break
    sleep 0.1
  done
  out=$(tr -d '\r' <"$work/launch.txt")
  has_line vm.java.invoke || fail "the boot call did not begin"
  id=$(value temp.folder)
  id=${id##*\\}

  ctl status "$id"
  [ $rc -eq 0 ] || fail "status: exit code $rc"
  [[ "$out" =~ ^Busy\ App\.exe\ \[PID=[0-9]+\]$ ]] || fail "status: unexpected reply"
  ctl list
  grep -qF "$id  Busy App.exe [PID=" <<<"$out" || fail "list does not name $id"

  mkdir -p "$work/dumps here"
  ctl dump "$id" "$(winpath "$work/dumps here")\\stacks.txt"
  [ $rc -eq 0 ] || fail "dump: exit code $rc"
  grep -qx 'Full thread dump testvm' "$work/dumps here/stacks.txt" || { out=$(cat "$work/dumps here/stacks.txt"); fail "no dump in the file"; }
  [ -z "$extra" ] || expect_recorded dumpcrt loaded
  expect_recorded attach.name stackTracer
  expect_recorded attach.version 0x10002
  expect_recorded detach ''
  [ "$(recorded dump.thread)" != "$(recorded load.thread)" ] || fail "the dump ran on the main thread"

  # Places that are no regular file are refused at once, and the launch runs
  # on: the console and a folder. (Wine 8 makes no reparse points: mklink and
  # FSCTL_SET_REPARSE_POINT are unsupported, and it shows a Unix link as the
  # file it points to.)
  for path in CON "$(winpath "$work/dumps here")"; do
    ctl dump "$id" "$path"
    [ $rc -eq 1 ] || fail "dump into $path: exit code $rc"
    grep -q 'made no dump' <<<"$out" || fail "dump into $path: no refusal"
  done
  ctl status "$id"
  [ $rc -eq 0 ] || fail "status after the refused dumps: exit code $rc"

  wait
  out=$(tr -d '\r' <"$work/launch.txt")
  [ "$(cat "$work/launch.rc")" == 0 ] || fail "the launch ended with $(cat "$work/launch.rc")"
  grep -qx 'working hard' <<<"$out" || fail "the VM's output did not reach the console"
  ! grep -q 'Full thread dump' <<<"$out" || fail "the dump reached the console too"
  # DestroyJavaVM returned only after the non-daemon thread ended.
  [ "$(grep -nx 'thread.end' "$record" | cut -d: -f1)" -lt "$(grep -nx 'destroy.end' "$record" | cut -d: -f1)" ] ||
    fail "DestroyJavaVM returned before the VM's thread ended"
  expect_removed
  ctl status "$id"
  [ $rc -eq 3 ] || fail "the channel of an ended launch answered ($rc)"
}

channel_case ''
channel_case '' --console
# A VM built with another C runtime than the stub's writes its dump through
# that runtime's own descriptor 1: the console stub points it at the file too.
channel_case -Dtestvm.dumpcrt=ucrtbase.dll --console
echo "$name: ok"

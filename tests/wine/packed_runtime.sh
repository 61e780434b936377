#!/usr/bin/env bash
# A package made here with --runtime of a Windows runtime folder (its
# bin\server\jvm.dll the test VM), plain and compressed: the first launch
# extracts the runtime below %LOCALAPPDATA%\glimvane (on two threads: it
# holds 6 MB) and loads the VM from there, the second loads it from the
# cache without extracting. The packed runtime comes before the registered
# one.
stub=$1
pack=$2
source "$(dirname "$0")/lib.sh"

app="$work/app"
mkdir -p "$app"
install_runtime "$work/image"
printf 'JAVA_VERSION="17.0.9"\nMODULES="java.base"\n' > "$work/image/release"
# Large enough that a first launch extracts on two threads, and compressed
# in two parts, which the threads write side by side into one file.
mkdir -p "$work/image/lib" && head -c 4500000 /dev/urandom | base64 -w 0 > "$work/image/lib/modules"
# A registered runtime that must lose to the packed one.
install_runtime "$work/registered"
trap 'reg_clear; rm -rf "$work"' EXIT
reg_clear
reg_value "" CurrentVersion REG_SZ 1.8
reg_value "\\1.8" RuntimeLib REG_SZ "$(winpath "$work/registered/bin/server/jvm.dll")"
local_app=$(wine cmd /c echo %LOCALAPPDATA% 2>/dev/null | tr -d '\r')
for compress in "" --compress; do
  exe=rt${compress:+-compressed}.exe
  pack_vm "$app/$exe" "" --runtime "$work/image" $compress
  parts=$("$pack" inspect "$app/$exe" | grep -c "part of file 'runtime/lib/modules'" || true)
  want=0 && [ -n "$compress" ] && want=2
  [ "$parts" -eq "$want" ] || fail "$exe: lib/modules packed in $parts parts, not $want"
  for start in first second; do
    vm_launch "$app" "$exe" -D*
    [ $rc -eq 0 ] || fail "$exe, $start start: exit code $rc"
    folder=$(value cache.folder)
    [[ "$folder" =~ ^"$local_app\\glimvane\\"[0-9a-f]{16}$ ]] || fail "$exe: cache folder '$folder' is not below '$local_app'"
    cache=$(winepath -u "$folder" 2>/dev/null)
    trap 'reg_clear; rm -rf "$work" "$cache" "$cache.lock"' EXIT
    has_line "packed.jvm=$folder\\runtime\\bin\\server\\jvm.dll (found)" || fail "$exe, $start start: no packed runtime"
    has_line "jvm=$folder\\runtime\\bin\\server\\jvm.dll" || fail "$exe, $start start: another VM was loaded"
    expect_recorded 'option\[0\]' "-Djava.class.path=$folder\\glimvaneboot.jar;$folder\\app.jar"
    if [ $start = first ]; then
      has_line "extracted=runtime/bin/server/jvm.dll" || fail "$exe: the runtime was not extracted"
      cmp -s "$cache/runtime/bin/server/jvm.dll" "$testvm" || fail "$exe: the extracted VM library differs"
      cmp -s "$cache/runtime/lib/modules" "$work/image/lib/modules" || fail "$exe: the extracted lib/modules differs"
    else
      has_line "cache.hit=$folder" || fail "$exe: the second launch did not use the cache"
      if grep -q '^!extracted=' <<<"$out"; then fail "$exe: the second launch extracted again"; fi
    fi
    expect_removed
  done
  rm -rf "$cache" "$cache.lock"
done
echo "$name: ok"

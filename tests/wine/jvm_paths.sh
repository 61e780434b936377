#!/usr/bin/env bash
# Runtime paths under Wine: a jvm value written with '/' finds the private
# runtime below the EXE's folder and loads it with that runtime's folder as
# current directory, as one written with '\' does (never the folder above
# the EXE's); a relative -jvm: path, '/' or '\', names a file below the
# directory the user started in, even when the package sets execwd.
stub=$1
pack=$2
source "$(dirname "$0")/lib.sh"

app="$work/app"
install_runtime "$app/jre"
for jvm in 'jre/bin/server/jvm.dll' 'jre\bin\server\jvm.dll'; do
  pack_vm "$app/demo.exe" '' --var "jvm=$jvm"
  vm_launch "$app" demo.exe -D*
  [ $rc -eq 0 ] || fail "jvm=$jvm: exit code $rc"
  expect_recorded library "$(winpath "$app/jre/bin/server/jvm.dll")"
  expect_recorded load.cwd "$(winpath "$app/jre/bin")"
done

pack_vm "$app/demo.exe" '' --var execwd=*
for jvm in 'app/jre/bin/server/jvm.dll' 'app\jre\bin\server\jvm.dll'; do
  vm_launch "$work" "app/demo.exe" -D* "-jvm:$jvm"
  [ $rc -eq 0 ] || fail "-jvm:$jvm: exit code $rc"
  [ "$(value jvm)" == "$(winpath "$app/jre/bin/server/jvm.dll")" ] || fail "-jvm:$jvm gave jvm=$(value jvm)"
  expect_recorded load.cwd "$(winpath "$app/jre/bin")"
  [ "$(value cwd)" == "$(winpath "$app")" ] || fail "execwd did not apply: cwd=$(value cwd)"
done
echo "$name: ok"

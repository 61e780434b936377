#!/usr/bin/env bash
# A package with a splash image on a runtime without the splash library (the
# test VM's runtime has none): the launch looks for bin\splashscreen.dll
# beside the VM library's folder, says in its log why there is no splash and
# runs the program as any other.
stub=$1
pack=$2
image=$3
source "$(dirname "$0")/lib.sh"

install_runtime "$work/jre"
pack_vm "$work/Splash.exe" '' --var 'jvm=jre\bin\server\jvm.dll' --splash "$image"
vm_launch "$work" Splash.exe -D*
[ $rc -eq 0 ] || fail "exit code $rc"
has_line "extracted=glimvane-splash.png" || fail "the image was not extracted"
[[ "$(value splash.none)" == *'\jre\bin\splashscreen.dll (no splash library: a headless runtime)' ]] ||
  fail "no reason for the missing splash"
has_line "vm.main.invoke" || fail "the program did not start"
echo "$name: ok"

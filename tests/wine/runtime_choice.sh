#!/usr/bin/env bash
# The runtime a launch takes, chosen through Wine's real registry: the
# private runtime beside the EXE first (no version test), then the runtime
# registered as current when it lies inside the version window, then the
# newest registered one inside it; values of another type than REG_SZ and
# RuntimeLib paths naming no file count as absent, and no runtime at all is
# error 10. The chosen VM library is the one the test VM finds itself
# loaded as, with its runtime folder as the current directory.
stub=$1
pack=$2
source "$(dirname "$0")/lib.sh"
trap 'reg_clear; rm -rf "$work"' EXIT

# A registered runtime NAME lives in $work/rt/NAME; "NAME!" registers NAME
# with a RuntimeLib naming a missing file, "NAME~" with a RuntimeLib of type
# REG_EXPAND_SZ.
register() {
  local entry=$1 version=${1%[~!]} type=REG_SZ
  local lib="$work/rt/$version/bin/server/jvm.dll"
  case $entry in
  *!) lib="$work/rt/missing/jvm.dll" ;;
  *~) type=REG_EXPAND_SZ && install_runtime "$work/rt/$version" ;;
  *) install_runtime "$work/rt/$version" ;;
  esac
  reg_value "\\$version" RuntimeLib "$type" "$(winpath "$lib")"
}

install_runtime "$work/app/jre"
# case | CurrentVersion (TYPE:TEXT) | registered runtimes | Vars lines | the
# runtime chosen (a registered name, "private", or an exit code) | a line of
# the debug log
cases=(
  'current first|REG_SZ:1.6|1.6 1.7||1.6'
  'current outside the window|REG_SZ:1.3|1.3 1.6.0_20 1.6 1.7!||1.6.0_20'
  'REG_EXPAND_SZ ignored|REG_EXPAND_SZ:1.6|1.6 1.7 1.8~||1.7'
  'current without its file|REG_SZ:1.7|1.6 1.7!||1.6'
  'both bounds inclusive||1.5 1.6 1.7|minver=1.6 maxver=1.6|1.6'
  'private before all, no version test|REG_SZ:1.6|1.6|jvm=jre\bin\server\jvm.dll minver=99|private'
  'private missing|REG_SZ:1.6|1.6|jvm=nojre\jvm.dll|1.6|private.jvm=APP\nojre\jvm.dll (NOT FOUND)'
  'only missing files||1.7!||10'
  'no key at all||||10'
)
for entry in "${cases[@]}"; do
  IFS='|' read -r label current runtimes vars chosen line <<<"$entry"
  reg_clear
  [ -z "$current" ] || reg_value '' CurrentVersion "${current%%:*}" "${current#*:}"
  for runtime in $runtimes; do register "$runtime"; done
  options=()
  for var in $vars; do options+=(--var "$var"); done
  pack_vm "$work/app/demo.exe" '' "${options[@]}"
  vm_launch "$work/app" demo.exe -D* -Q*
  [ -z "$line" ] || has_line "${line/APP/$(winpath "$work/app")}" || fail "$label: no line $line"
  case $chosen in
  private) folder="$work/app/jre" ;;
  10) [ $rc -eq 10 ] || fail "$label: exit code $rc, not 10"
    [ ! -e "$record" ] || fail "$label: a VM library was loaded"
    expect_removed
    continue ;;
  *) folder="$work/rt/$chosen" ;;
  esac
  [ $rc -eq 0 ] || fail "$label: exit code $rc"
  expect_recorded library "$(winpath "$folder/bin/server/jvm.dll")"
  expect_recorded load.cwd "$(winpath "$folder/bin")"
done
echo "$name: ok"

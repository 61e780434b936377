# Shared by the Wine package tests: sourced with the windows-x64 stub as
# $stub. Gives a scratch folder, a failure report and the check of a launch.
set -uo pipefail
export WINEDEBUG=-all LANG=C.UTF-8 WINEPREFIX=${WINEPREFIX:-$(cd "$(dirname "$stub")" && pwd)/wineprefix}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
out=
rc=0
name=$(basename "$0" .sh)

fail() { echo "$name: $*"; printf '%s\n' "$out" | head -40; exit 1; }

# launch DIR PROGRAM WORDS...: runs a package in DIR; its output (without
# carriage returns) in $out, its standard error in $work/stderr, its exit
# code in $rc (124 when it hangs: an error box must never wait for a click).
launch() {
  local dir=$1
  shift
  out=$(cd "$dir" && timeout 120 wine "$@" 2>"$work/stderr" | tr -d '\r')
  rc=$?
}

value() { printf '%s\n' "$out" | sed -n "s/^!$1=\(.*\) \[[0-9]*\]$/\1/p"; }

# A here-string, not a pipe: grep -q may stop reading early, and under
# pipefail the writer's broken pipe would fail the check.
has_line() { grep -qF -- "!$1 [" <<<"$out"; }

# The launch started and extracted FILE: exit code 0, or 10 once runtime
# discovery is in and no Java runtime exists under Wine, never a damage
# (9x) or disk (4x) error; the removal child deletes the temp folder.
expect_launched() {
  [ $rc -eq 0 ] || [ $rc -eq 10 ] || fail "exit code $rc"
  has_line "extracted=$1" || fail "$1 was not extracted"
  expect_removed
}

# The temp folder named in the log is gone within 30 s: the detached removal
# child deleted it.
expect_removed() {
  local folder
  folder=$(value temp.folder)
  [[ "$folder" =~ \\GV[0-9A-F]+$ ]] || fail "no temp folder in the log"
  local unix
  unix=$(winepath -u "$folder" 2>/dev/null)
  [ -n "$unix" ] || fail "no Unix path for $folder"
  for _ in $(seq 300); do
    [ -e "$unix" ] || return 0
    sleep 0.1
  done
  fail "temp folder $unix still there 30 s after exit"
}

echo jar > "$work/app.jar"

# The test VM library, installed as a runtime's VM library, records what the
# launcher hands it into $record (see tests/testvm/testvm.cpp).
testvm=$(cd "$(dirname "$stub")" && pwd)/testvm.dll
record=$work/record.txt
java_key='HKLM\SOFTWARE\JavaSoft\Java Runtime Environment'

winpath() { winepath -w "$1" 2>/dev/null; }

# install_runtime DIR: a runtime folder whose VM library DIR/bin/server/jvm.dll
# is the test VM.
install_runtime() {
  mkdir -p "$1/bin/server" && cp "$testvm" "$1/bin/server/jvm.dll" || fail "cannot install a runtime in $1"
}

# pack_vm EXE JOP [OPTIONS...]: packs app.jar with a jop that records into
# $record, followed by the words JOP.
pack_vm() {
  local exe=$1 jop=$2
  shift 2
  "$pack" --stub "$stub" --main app.Main --out "$exe" --jar "$work/app.jar" --var "jop=-Dtestvm.record=$(winpath "$record") $jop" \
    "$@" >/dev/null || fail "glimvane-pack failed for $exe"
}

# vm_launch DIR PROGRAM WORDS...: launch with an empty record.
vm_launch() {
  rm -f "$record"
  launch "$@"
}

# recorded KEY: what the test VM recorded under KEY, one line per entry.
recorded() { sed -n "s/^$1=//p" "$record" 2>/dev/null | tr -d '\r'; }

expect_recorded() {
  local got
  got=$(recorded "$1")
  [ "$got" == "$2" ] || fail "recorded $1 is '$got', not '$2'"
}

# The registry's runtimes live in the shared prefix: every test that
# registers some removes them all again, whatever happens.
reg_clear() { wine reg delete "$java_key" /f >/dev/null 2>&1; true; }
reg_value() {  # KEY_SUFFIX NAME TYPE DATA
  wine reg add "$java_key$1" /v "$2" /t "$3" /d "$4" /f >/dev/null 2>&1 || fail "reg add $java_key$1 $2 failed"
}

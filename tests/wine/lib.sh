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
# carriage returns) in $out, its exit code in $rc.
launch() {
  local dir=$1
  shift
  out=$(cd "$dir" && wine "$@" 2>/dev/null | tr -d '\r')
  rc=$?
}

# A here-string, not a pipe: grep -q may stop reading early, and under
# pipefail the writer's broken pipe would fail the check.
has_line() { grep -qF -- "!$1 [" <<<"$out"; }

# The launch started and extracted FILE: exit code 0, or 10 once runtime
# discovery is in and no Java runtime exists under Wine, never a damage
# (9x) or disk (4x) error; the removal child deletes the temp folder.
expect_launched() {
  [ $rc -eq 0 ] || [ $rc -eq 10 ] || fail "exit code $rc"
  has_line "extracted=$1" || fail "$1 was not extracted"
  local folder
  folder=$(printf '%s\n' "$out" | sed -n 's/^!temp\.folder=\(.*\) \[[0-9]*\]$/\1/p')
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

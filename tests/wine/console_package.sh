#!/usr/bin/env bash
# glimvane-pack --console takes the console variant next to the given stub:
# the package is a console program of the stub's machine, shows its output
# and exit code under Wine, and prints the error block of a launch error as
# the GUI variant does.
stub=$1
pack=$2
source "$(dirname "$0")/lib.sh"

"$pack" --stub "$stub" --main app.Main --console --out "$work/tool.exe" --jar "$work/app.jar" --execution-level asInvoker ||
  fail "glimvane-pack failed"
out=$(x86_64-w64-mingw32-objdump -p "$work/tool.exe")
grep -qE '^Subsystem[[:space:]]+00000003' <<<"$out" || fail "the package is not a console program"
grep -qE '^Magic[[:space:]]+020b' <<<"$out" || fail "the package is not a 64-bit program"

launch "$work" tool.exe -D* -Q* one
has_line "arg0='one'" || fail "no output"
expect_launched app.jar

# A truncated package: error 90, reported on standard output.
head -c -1 "$work/tool.exe" > "$work/cut.exe"
launch "$work" cut.exe
[ $rc -eq 90 ] || fail "a truncated console package gives exit code $rc, not 90"
grep -qF "ERROR #90: 'cut.exe' is a partial/truncated EXE" <<<"$out" || fail "no error block on standard output"
echo "$name: ok"

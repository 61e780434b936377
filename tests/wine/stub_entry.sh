#!/usr/bin/env bash
# The windows-x64 stub under Wine: its debug log reaches standard output. A
# stub that was never packaged stops at its self-check with error 96.
set -uo pipefail
stub=$1
export WINEDEBUG=-all WINEPREFIX=${WINEPREFIX:-$(dirname "$stub")/wineprefix}
out=$(wine "$stub" -D* -Q* a "b c" -W* 2>/dev/null)
rc=$?
expected=$'!arg0=\'a\' \\[[0-9]+\\]\r\n!arg1=\'b c\' \\[[0-9]+\\]\r\n!arg2=\'-W\\*\' \\[[0-9]+\\]\r\n'
if [ $rc -ne 96 ] || ! [[ "$out" =~ $expected ]] || ! [[ "$out" == *'!C.exit(96) '* ]]; then
  echo "wine $stub: exit code $rc, output:"; printf '%s' "$out" | od -c | head -40
  exit 1
fi
echo "wine stub entry: ok"

#!/usr/bin/env bash
# The windows-x64 stub under Wine: its debug log reaches standard output.
set -uo pipefail
stub=$1
export WINEDEBUG=-all WINEPREFIX=${WINEPREFIX:-$(dirname "$stub")/wineprefix}
out=$(wine "$stub" -D* -Q* a "b c" -W* 2>/dev/null)
rc=$?
expected=$'!arg0=\'a\' \\[[0-9]+\\]\r\n!arg1=\'b c\' \\[[0-9]+\\]\r\n!arg2=\'-W\\*\' \\[[0-9]+\\]\r'
if [ $rc -ne 0 ] || ! [[ "$out" =~ ^$expected$ ]]; then
  echo "wine $stub: exit code $rc, output:"; printf '%s' "$out" | od -c | head -20
  exit 1
fi
echo "wine stub entry: ok"

#!/usr/bin/env bash
# The windows-x64 launcher under Wine runs a good package made by the linux
# glimvane-pack: its temp folder is made below Wine's temp path, the files
# are written into it, and the removal child deletes it after exit. Wine has
# no Java runtime registered, so the launch ends there with error 10 (-Q*
# keeps the report and the download page quiet).
set -uo pipefail
stub=$1
pack=$2
export WINEDEBUG=-all WINEPREFIX=${WINEPREFIX:-$(dirname "$stub")/wineprefix}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "wine good package: $*"; printf '%s\n' "$out" | head -40; exit 1; }

mkdir -p "$work/src" "$work/app"
echo jar > "$work/src/app.jar"
echo dll > "$work/src/x.dll"
"$pack" --stub "$stub" --out "$work/app/demo.exe" --name "Demo App" --jar "$work/src/app.jar" \
  --file "$work/src/x.dll=lib/native/x.dll" || { out=; fail "glimvane-pack failed"; }

out=$(cd "$work/app" && wine demo.exe -D* -Q* one 2>/dev/null | tr -d '\r')
rc=$?
value() { printf '%s\n' "$out" | sed -n "s/^!$1=\(.*\) \[[0-9]*\]$/\1/p"; }
# Exit code 10: the folder was made and both files were written into it
# (a failed write is error 41, which would come first); then no runtime.
[ $rc -eq 10 ] || fail "exit code $rc"
temp_path=$(value temp.path)
folder=$(value temp.folder)
[[ "$folder" =~ ^.*\\GV[0-9A-F]+$ ]] || fail "no temp folder in the log"
for line in "arg0='one'" "extracted=app.jar" "extracted=lib/native/x.dll" "C.exiting"; do
  grep -qF "!$line [" <<<"$out" || fail "no line $line"
done
grep -q '^!C\.exit(10) \[m=[0-9]*\]' <<<"$out" || fail "no C.exit(10) line"

# Wine's temp path is a folder of the prefix's drive C.
unix_temp=$(realpath -m "$(winepath -u "$temp_path" 2>/dev/null)")
unix_folder=$(realpath -m "$(winepath -u "$folder" 2>/dev/null)")
[[ "$unix_temp" == "$(cd "$WINEPREFIX/drive_c" && pwd -P)"/* ]] || fail "temp path $unix_temp is not below drive C"
[ -d "$unix_temp" ] || fail "temp path $unix_temp is no folder"
[[ "$unix_folder" == "$unix_temp"/GV* ]] || fail "temp folder $unix_folder is not below $unix_temp"
for _ in $(seq 300); do
  [ -e "$unix_folder" ] || { echo "wine good package: ok"; exit 0; }
  sleep 0.1
done
fail "temp folder $unix_folder still there 30 s after exit"

#!/usr/bin/env bash
# A --fast-start package under Wine, on the test VM as its private runtime:
# the first launch extracts into a staging folder below
# %LOCALAPPDATA%\glimvane and renames it into place, the second starts from
# it without extracting; the class path names the cached jars only, and the
# run's temp folder is still removed after exit.
stub=$1
pack=$2
source "$(dirname "$0")/lib.sh"

app="$work/app"
mkdir -p "$app"
install_runtime "$app/jre"
pack_vm "$app/fast.exe" "" --var 'jvm=jre\bin\server\jvm.dll' --fast-start
vm_launch "$app" fast.exe -D*
[ $rc -eq 0 ] || fail "exit code $rc"
folder=$(value cache.folder)
local_app=$(wine cmd /c echo %LOCALAPPDATA% 2>/dev/null | tr -d '\r')
[[ "$folder" =~ ^"$local_app\\glimvane\\"[0-9a-f]{16}$ ]] || fail "cache folder '$folder' is not below '$local_app'"
cache=$(winepath -u "$folder" 2>/dev/null)
trap 'rm -rf "$work" "$cache" "$cache.lock"' EXIT
for line in "cache.miss=no stamp" "cache.renamed=$folder" "extracted=glimvaneboot.jar" "extracted=app.jar"; do
  has_line "$line" || fail "no line $line"
done
[ "$(cat "$cache/app.jar")" == jar ] || fail "app.jar is not in the cache folder $cache"
expect_recorded 'option\[0\]' "-Djava.class.path=$folder\\glimvaneboot.jar;$folder\\app.jar"
expect_removed

vm_launch "$app" fast.exe -D*
[ $rc -eq 0 ] || fail "second launch: exit code $rc"
has_line "cache.hit=$folder" || fail "the second launch did not use the cache"
if grep -q '^!extracted=' <<<"$out"; then fail "the second launch extracted again"; fi
expect_recorded 'option\[0\]' "-Djava.class.path=$folder\\glimvaneboot.jar;$folder\\app.jar"
expect_removed
echo "$name: ok"

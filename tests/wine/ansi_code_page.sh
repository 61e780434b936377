#!/usr/bin/env bash
# Launcher texts in an ANSI code page other than UTF-8 reach the VM as the
# characters they stand for: a package whose manifest asks for no UTF-8 code
# page runs in Wine's code page 1252 from a folder named "José" (one byte,
# 0xE9, in that code page); the module filename and the temp folder go to
# the VM through NewString, and the application sees "José", not U+FFFD.
# The same package with the stub's manifest (code page 65001) keeps
# NewStringUTF.
stub=$1
pack=$2
source "$(dirname "$0")/lib.sh"

app="$work/José"
install_runtime "$app/jre"
pack_vm "$app/utf8.exe" '' --var 'jvm=jre\bin\server\jvm.dll'
# The same bytes with an activeCodePage value Windows does not know: the
# system's ANSI code page applies.
sed 's|UTF-8</activeCodePage>|xxxxx</activeCodePage>|' "$app/utf8.exe" > "$app/ansi.exe"
cmp -s "$app/utf8.exe" "$app/ansi.exe" && fail "the stub's manifest names no UTF-8 code page"

vm_launch "$app" ansi.exe -D* "café"
[ $rc -eq 0 ] || fail "exit code $rc in the ANSI code page"
[[ "$(printf '%s\n' "$out" | grep -a '^!module.filename=')" == *$'Jos\xe9\\ansi.exe'* ]] ||
  fail "the launcher does not run in code page 1252 here"
expect_recorded 'boot\[1\]' "$(winpath "$app/ansi.exe")"
expect_recorded 'boot\[5\]' café
grep -Fqx "new.string.utf16=$(winpath "$app/ansi.exe")" <(tr -d '\r' <"$record") || fail "NewString was not used"

vm_launch "$app" utf8.exe -D* "café"
[ $rc -eq 0 ] || fail "exit code $rc in UTF-8"
expect_recorded 'boot\[1\]' "$(winpath "$app/utf8.exe")"
expect_recorded 'boot\[5\]' café
! grep -q '^new.string.utf16=' "$record" || fail "NewString was used in UTF-8"
echo "$name: ok"

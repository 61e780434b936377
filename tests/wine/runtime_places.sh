#!/usr/bin/env bash
# Where the windows-x64 launcher looks for a runtime beyond the registered
# ones, under Wine, read from its debug log: the JDK key, a vendor key, HKCU,
# the registered key first when it has a runtime in the window, and a 32-bit
# VM library passed over and named. The "jvm.dll" files are tiny DLLs built
# here, no VM: a chosen one fails to load (error 11), none gives error 10.
stub=$1
pack=$2
source "$(dirname "$0")/lib.sh"

"$pack" --stub "$stub" --main app.Main --out "$work/demo.exe" --name "Demo App" --jar "$work/app.jar" ||
  fail "glimvane-pack failed"

# home NAME VERSION BITS: a runtime home with a release file and a DLL of
# that bitness as bin\server\jvm.dll; its Windows path in $win.
home() {
  mkdir -p "$work/$1/bin/server"
  printf 'IMPLEMENTOR="test"\r\nJAVA_VERSION="%s"\r\n' "$2" > "$work/$1/release"
  local cc=x86_64-w64-mingw32-gcc
  [ "$3" = 32 ] && cc=i686-w64-mingw32-gcc
  echo 'int glimvane_test;' | $cc -shared -x c -o "$work/$1/bin/server/jvm.dll" - || fail "no $3-bit DLL"
  win=$(winepath -w "$work/$1" 2>/dev/null)
}

# Keys this test adds, removed again at the end whatever happens, with the
# folders of keys above them that were not there before.
added=()
for key in 'HKLM\Software\JavaSoft\JDK' 'HKLM\Software\JavaSoft\Java Runtime Environment' \
  'HKLM\Software\Eclipse Adoptium' 'HKCU\Software\JavaSoft'; do
  wine reg query "$key" >/dev/null 2>&1 || added+=("$key")
done
reg_add() {
  wine reg add "$1" /v "$2" /d "$3" /f >/dev/null 2>&1 || fail "wine reg add $1 failed"
  added=("$1" "${added[@]}")
}
cleanup() {
  for key in "${added[@]}"; do wine reg delete "$key" /f >/dev/null 2>&1; done
  rm -rf "$work"
}
trap cleanup EXIT

# check WHAT CODE LINES...: a launch gives exit code CODE and these log lines.
check() {
  local what=$1 code=$2
  shift 2
  launch "$work" demo.exe -D* -Q*
  [ $rc -eq "$code" ] || fail "$what: exit code $rc, not $code"
  for line in "$@"; do has_line "$line" || fail "$what: no line $line"; done
}

jdk='HKLM\Software\JavaSoft\JDK'
home jdk21 21.0.2 64
reg_add "$jdk\\21" JavaHome "$win"
check "JavaSoft\\JDK\\21 only" 11 'runtime.place=HKLM\SOFTWARE\JavaSoft\JDK (looked at)' \
  "runtime.candidate=$win\\bin\\server\\jvm.dll version=21.0.2 (taken)" "jvm=$win\\bin\\server\\jvm.dll"

# A registered runtime inside the window: the further places stay unread.
home jre8 1.8.0_400 64
jre='HKLM\Software\JavaSoft\Java Runtime Environment'
reg_add "$jre\\1.8" RuntimeLib "$win\\bin\\server\\jvm.dll"
check "the registered key first" 11 "jvm=$win\\bin\\server\\jvm.dll"
grep -q '^!runtime\.place=' <<<"$out" && fail "the further places were looked at"
wine reg delete "$jre\\1.8" /f >/dev/null 2>&1

# A vendor key only: the newer one there wins over JDK\21.
home temurin 21.0.5 64
reg_add 'HKLM\Software\Eclipse Adoptium\JDK\21.0.5.11\hotspot\MSI' Path "$win"
check "a vendor key" 11 "runtime.candidate=$win\\bin\\server\\jvm.dll version=21.0.5 (taken)" \
  "jvm=$win\\bin\\server\\jvm.dll"
wine reg delete 'HKLM\Software\Eclipse Adoptium\JDK\21.0.5.11' /f >/dev/null 2>&1

# A 32-bit VM library for the 64-bit stub is passed over and named; alone
# in the window it gives error 10 with the added sentence.
home x86 22 32
reg_add "$jdk\\22" JavaHome "$win"
check "a 32-bit VM library" 11 \
  "runtime.candidate=$win\\bin\\server\\jvm.dll version=22 (passed over: 32-bit VM library, this program is 64-bit)"
wine reg delete "$jdk\\21" /f >/dev/null 2>&1
check "only a 32-bit VM library" 10
launch "$work" demo.exe  # without -Q*: the error report
grep -qF "could not be found. A 32-bit Java is installed, but this program needs a 64-bit one." <<<"$out" ||
  fail "error 10 does not name the other bitness"
wine reg delete "$jdk\\22" /f >/dev/null 2>&1

# HKCU only.
home user 23 64
reg_add 'HKCU\Software\JavaSoft\JDK\23' JavaHome "$win"
check "HKCU only" 11 'runtime.place=HKCU\SOFTWARE\JavaSoft\JDK (looked at)' "jvm=$win\\bin\\server\\jvm.dll"
echo "$name: ok"

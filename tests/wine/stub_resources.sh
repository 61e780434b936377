#!/usr/bin/env bash
# The four Windows stubs read back from the built files (no Wine needed):
# machine, subsystem, imports of system DLLs only, the icon group of five
# images at 16, 24, 32, 48 and 256 pixels (ours, from resources/), and the
# manifest's execution level, uiAccess, supported systems, long paths, DPI
# awareness and UTF-8 code page; the name under which the stub looks up the
# VM library's dump export (decorated for the 32-bit stdcall export only). A PE32 package gets its resources rewritten
# as a PE32+ one does.
set -uo pipefail
x86=$1
x64=$2
pack=$3
icon=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
out=
fail() { echo "stub_resources: $*"; printf '%s\n' "$out" | head -40; exit 1; }

# icon_sizes FILE: the sizes in the icon group, one per line.
icon_sizes() {
  rm -rf "$work/icon" && mkdir -p "$work/icon"
  wrestool -x -t14 "$1" -o "$work/icon/group.ico" && icotool -l "$work/icon/group.ico" |
    sed -n 's/.*--width=\([0-9]*\) --height=\1 .*/\1/p'
}

manifest_entries=(
  '<requestedExecutionLevel level="requireAdministrator" uiAccess="false"/>'
  '<supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"/>'
  '<longPathAware xmlns="http://schemas.microsoft.com/SMI/2016/WindowsSettings">true</longPathAware>'
  '<dpiAware xmlns="http://schemas.microsoft.com/SMI/2005/WindowsSettings">true/pm</dpiAware>'
  '<dpiAwareness xmlns="http://schemas.microsoft.com/SMI/2016/WindowsSettings">PerMonitorV2</dpiAwareness>'
  '<activeCodePage xmlns="http://schemas.microsoft.com/SMI/2019/WindowsSettings">UTF-8</activeCodePage>'
)

# stub MAGIC ARCHITECTURE SUBSYSTEM DUMP_EXPORT
check() {
  local file=$1 magic=$2 architecture=$3 subsystem=$4 dump_export=$5
  [ -f "$file" ] || fail "$file is missing"
  out=$(x86_64-w64-mingw32-objdump -f -p "$file") || fail "objdump cannot read $file"
  grep -qE "^architecture: $architecture," <<<"$out" || fail "$file is not $architecture"
  grep -qE "^Magic[[:space:]]+$magic" <<<"$out" || fail "$file: magic is not $magic"
  grep -qE "^Subsystem[[:space:]]+0000000$subsystem" <<<"$out" || fail "$file: subsystem is not $subsystem"
  local dlls
  dlls=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$out" | tr 'A-Z' 'a-z' | sort | tr '\n' ' ')
  [[ "$dlls" =~ ^((advapi32|kernel32|msvcrt|shell32|user32)\.dll\ )+$ ]] || fail "$file imports $dlls"
  out=$(strings -a "$file" | grep -E '^_?JVM_DumpAllStacks(@8)?$')
  [ "$out" == "$dump_export" ] || fail "$file looks up the dump export as '$out', not $dump_export"

  out=$(icon_sizes "$file")
  [ "$(tr '\n' ' ' <<<"$out")" = "16 24 32 48 256 " ] || fail "$file: icon group sizes are not 16 24 32 48 256"
  mkdir -p "$work/ours" && cp "$icon" "$work/ours/group.ico"
  rm -f "$work/ours/"*.png "$work/icon/"*.png
  icotool -x -o "$work/ours" "$work/ours/group.ico" && icotool -x -o "$work/icon" "$work/icon/group.ico"
  out=$(cd "$work" && for f in ours/*.png; do cmp "$f" "icon/${f#ours/}"; done 2>&1) ||
    fail "$file: the icon images are not those of $icon"

  out=$(wrestool --raw -x -t24 -n1 "$file")
  for entry in "${manifest_entries[@]}"; do
    grep -qF -- "$entry" <<<"$out" || fail "$file: the manifest lacks $entry"
  done
}

for variant in "" -console; do
  subsystem=$([ -z "$variant" ] && echo 2 || echo 3)
  check "${x86%.exe}$variant.exe" 010b i386 "$subsystem" _JVM_DumpAllStacks@8
  check "${x64%.exe}$variant.exe" 020b i386:x86-64 "$subsystem" JVM_DumpAllStacks
done

# Rewriting a PE32 image: the console variant with another level and icon.
"$pack" --stub "$x86" --main app.Main --console --out "$work/app.exe" --payload "$icon" --execution-level highestAvailable \
  --icon "$icon" --version-info "App,3" || fail "glimvane-pack failed on $x86"
manifest_entries[0]='<requestedExecutionLevel level="highestAvailable"     uiAccess="false"/>'
check "$work/app.exe" 010b i386 3 _JVM_DumpAllStacks@8
out=$(exiftool -s -ProductVersion -FileVersionNumber "$work/app.exe")
grep -qE '^ProductVersion +: 3$' <<<"$out" && grep -qE '^FileVersionNumber +: 3.0.0.0$' <<<"$out" ||
  fail "the PE32 package's version information was not rewritten"
echo "stub_resources: ok"

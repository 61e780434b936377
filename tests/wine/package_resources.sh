#!/usr/bin/env bash
# glimvane-pack rewrites a package's resources: the user's icon (extracted
# back and compared), version information (read back by exiftool) and the
# execution level; such a package still launches under Wine. Icons that are
# not valid or do not fit, and bad option values, are refused without an
# output file.
stub=$1
pack=$2
linux_stub=$3
source "$(dirname "$0")/lib.sh"

le32() { printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)))"; }
le16() { printf "$(printf '\\x%02x\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)))"; }
# bitmap SIZE: a 32-bit icon image of SIZE pixels with its mask, in a colour
# of its own.
bitmap() {
  local s=$1
  le32 40; le32 "$s"; le32 $((2 * s)); le16 1; le16 32; head -c 24 /dev/zero
  yes "$(printf "\\x$(printf %02x $((s % 200 + 20)))\\x60\\x90\\xff")" | tr -d '\n' | head -c $((s * s * 4))
  head -c $(((s + 31) / 32 * 4 * s)) /dev/zero
}
# make_icon FILE IMAGE...: an .ico file of the given image files.
make_icon() {
  local file=$1
  shift
  local offset=$((6 + 16 * $#))
  { le16 0; le16 1; le16 $#
    for image in "$@"; do
      local size width
      size=$(stat -c %s "$image")
      width=$(od -An -tu4 -j4 -N4 "$image" | tr -d ' ')
      [ "$(head -c 4 "$image" | od -An -tx1 | tr -d ' ')" = 89504e47 ] && width=0
      printf "\\x$(printf %02x $((width % 256)))\\x$(printf %02x $((width % 256)))\\0\\0"
      le16 1; le16 32; le32 "$size"; le32 "$offset"
      offset=$((offset + size))
    done
    cat "$@"; } > "$file"
}

for s in 16 32 48; do bitmap $s > "$work/img$s.bmp"; done
make_icon "$work/user.ico" "$work/img16.bmp" "$work/img32.bmp" "$work/img48.bmp"
"$pack" --stub "$stub" --main app.Main --out "$work/app.exe" --jar "$work/app.jar" --icon "$work/user.ico" \
  --version-info "Mon Outil 日本,2.5.1-beta" --execution-level asInvoker || fail "glimvane-pack failed"

# The icon group read back is the user's, image for image.
wrestool -x -t14 "$work/app.exe" -o "$work/back.ico" || fail "wrestool found no icon group"
mkdir -p "$work/a" "$work/b"
cp "$work/user.ico" "$work/a/icon.ico" && cp "$work/back.ico" "$work/b/icon.ico"
icotool -x -o "$work/a" "$work/a/icon.ico" && icotool -x -o "$work/b" "$work/b/icon.ico" || fail "icotool failed"
rm "$work/a/icon.ico" "$work/b/icon.ico"
out=$(diff -r "$work/a" "$work/b" && ls "$work/b") || fail "the package's icon differs from the user's"
[ "$(ls "$work/b" | wc -l)" -eq 3 ] || fail "the package's icon group does not hold 3 images"
for n in 1 2 3; do
  wrestool --raw -x -t3 -n$n "$work/app.exe" | cmp -s - "$work/img$((n == 1 ? 16 : n == 2 ? 32 : 48)).bmp" ||
    fail "icon image $n is not the user's bytes"
done

out=$(wrestool --raw -x -t24 "$work/app.exe")
grep -qE '<requestedExecutionLevel level="asInvoker" +uiAccess="false"/>' <<<"$out" ||
  fail "the manifest does not ask for asInvoker"
out=$(exiftool -s -ProductName -ProductVersion -FileDescription -FileVersion -FileVersionNumber \
  -OriginalFileName "$work/app.exe")
for line in "ProductName *: Mon Outil 日本" "ProductVersion *: 2.5.1-beta" "FileDescription *: Mon Outil 日本" \
  "FileVersion *: 2.5.1-beta" "FileVersionNumber *: 2.5.1.0" "OriginalFileName *: app.exe"; do
  grep -qE "^$line\$" <<<"$out" || fail "version information lacks '$line'"
done

launch "$work" app.exe -D* -Q*
expect_launched app.jar

# Refused input: an exit code of 1, the reason, and no output file.
head -c 2000 "$work/user.ico" > "$work/cut.ico"
echo "not an icon" > "$work/text.ico"
bitmap 256 > "$work/img256.bmp"
make_icon "$work/large.ico" "$work/img256.bmp"
make_icon "$work/many.ico" $(for _ in $(seq 17); do echo "$work/img16.bmp"; done)
# A section header of the launcher's own inside the image, twice, 40 bytes
# apart: one of the copies lands at a multiple of 16 in the package.
printf '' > "$work/empty"
"$pack" --stub "$stub" --main app.Main --out "$work/z.exe" --payload "$work/empty" || fail "glimvane-pack failed"
zat=$("$pack" inspect "$work/z.exe" | sed -n 's/^section [0-9]* at \([0-9]*\): type Z.*/\1/p')
{ printf '\x89PNG\r\n\x1a\n'; dd if="$work/z.exe" bs=1 skip="$zat" count=32 2>/dev/null; head -c 8 /dev/zero
  dd if="$work/z.exe" bs=1 skip="$zat" count=32 2>/dev/null; } > "$work/header.png"
make_icon "$work/header.ico" "$work/header.png"
make_icon "$work/odd.ico" "$work/text.ico"
refused() {  # EXPECTED-TEXT OPTIONS...
  local text=$1
  shift
  rm -f "$work/out/"*
  mkdir -p "$work/out"
  out=$("$pack" --stub "$stub" --main app.Main --out "$work/out/bad.exe" --jar "$work/app.jar" "$@" 2>&1)
  local code=$?
  [ $code -ne 0 ] || fail "$* was accepted"
  grep -qF -- "$text" <<<"$out" || fail "$* refused without '$text'"
  [ -z "$(ls -A "$work/out")" ] || fail "$* left $(ls -A "$work/out") behind"
}
refused "is not a valid icon file: no icon directory" --icon "$work/text.ico"
refused "is not a valid icon file: image 2 lies outside the file" --icon "$work/cut.ico"
refused "is not a valid icon file: image 1 is neither PNG nor a bitmap" --icon "$work/odd.ico"
refused "it holds 17 images; at most 16 fit" --icon "$work/many.ico"
refused "the stub has room for 196608" --icon "$work/large.ico"
refused "bytes the launcher would take for its own data" --icon "$work/header.ico"
refused "cannot read" --icon "$work/missing.ico"
refused "use asInvoker, highestAvailable or requireAdministrator" --execution-level user
for bad in "NoVersion" ",1.0" "App," "App,1.2.3.4.5" "App,70000" "App,beta" "App,1..2"; do
  refused "--version-info '$bad'" --version-info "$bad"
done
refused "the text must be UTF-8" --version-info $'App\x01,1.0'
stub_given=$stub
stub=$linux_stub
refused "is not a Windows stub" --icon "$work/user.ico"
refused "is not a Windows stub" --console
stub=$stub_given
echo "$name: ok"

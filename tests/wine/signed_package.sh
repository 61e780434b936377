#!/usr/bin/env bash
# A package signed after packing (Authenticode, with a certificate made
# here): the signature verifies, inspect shows it as trailing data, the
# package launches under Wine, and a byte flipped in a payload of the signed
# file is still error 91.
stub=$1
pack=$2
source "$(dirname "$0")/lib.sh"

"$pack" --stub "$stub" --main app.Main --out "$work/app.exe" --jar "$work/app.jar" --execution-level asInvoker ||
  fail "glimvane-pack failed"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Glimvane test signer" \
  -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null || fail "openssl could not make a certificate"
out=$(osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -n "Glimvane test" \
  -in "$work/app.exe" -out "$work/signed.exe" 2>&1) || fail "osslsigncode sign failed"
out=$(osslsigncode verify -CAfile "$work/cert.pem" "$work/signed.exe" 2>&1) || fail "the signature does not verify"

unsigned=$(stat -c %s "$work/app.exe")
signed=$(stat -c %s "$work/signed.exe")
listing=$("$pack" inspect "$work/signed.exe")
[ $? -eq 0 ] || { out=$listing; fail "inspect refuses the signed package"; }
grep -qxF "trailing data: $((signed - unsigned)) bytes after the last section" <<<"$listing" ||
  fail "inspect does not show the signature as $((signed - unsigned)) bytes of trailing data"

launch "$work" signed.exe -D* -Q* one
expect_launched app.jar

# The jar's section: flip a byte in the middle of its payload.
at=$(sed -n 's/^section [0-9]* at \([0-9]*\): type F, payload \([0-9]*\) bytes.*/\1 \2/p' <<<"$listing")
read -r offset length <<<"$at"
[ -n "$offset" ] || fail "no file section in the listing"
byte=$((offset + 32 + length / 2))
old=$(od -An -tu1 -j "$byte" -N1 "$work/signed.exe" | tr -d ' ')
printf "\\x$(printf %02x $((old ^ 0x40)))" | dd of="$work/signed.exe" bs=1 seek="$byte" conv=notrunc 2>/dev/null
launch "$work" signed.exe -D* -Q*
[ $rc -eq 91 ] || fail "a flipped payload byte gives exit code $rc, not 91"
echo "$name: ok"

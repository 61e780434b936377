#!/usr/bin/env bash
# A package in a folder with a non-ASCII name under Wine: the manifest's
# UTF-8 code page lets the launcher's ANSI calls map its own file, start the
# removal child from that folder and pass a Japanese word on intact.
stub=$1
pack=$2
source "$(dirname "$0")/lib.sh"

dir="$work/Données 日本"
mkdir -p "$dir"
"$pack" --stub "$stub" --main app.Main --out "$dir/デモ.exe" --jar "$work/app.jar" || fail "glimvane-pack failed"
launch "$dir" デモ.exe -D* -Q* 日本語 "é ü"
has_line "arg0='日本語'" || fail "the Japanese word did not reach the log intact"
has_line "arg1='é ü'" || fail "the accented words did not reach the log intact"
has_line 'module.filename=Z:'"${dir//\//\\}"'\デモ.exe' || fail "module filename not in UTF-8"
expect_launched app.jar
echo "$name: ok"

#!/usr/bin/env bash
# The main job: builds the three targets and the example application, packs
# the example into one executable, lists what it holds and runs it with a
# Java runtime found on this machine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh

out=build/example
rm -rf "$out" && mkdir -p "$out"
./build/linux/glimvane-pack --stub build/linux/glimvane --out "$out/hello" \
  --name "Hello Glimvane" --jar build/linux/examples/hello.jar --main example.Hello
./build/linux/glimvane-pack inspect "$out/hello"
echo
echo "\$ $out/hello first \"second word\" é 日本"
"$out/hello" first "second word" é 日本

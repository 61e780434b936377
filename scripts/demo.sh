#!/usr/bin/env bash
# The main job: builds the three targets, packs the example application into
# one executable, lists what it holds and runs it with the debug log on.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh

out=build/example
rm -rf "$out" && mkdir -p "$out/classes"
javac --release 8 -d "$out/classes" examples/hello/Hello.java 2>/dev/null ||
  javac -d "$out/classes" examples/hello/Hello.java
jar --create --file "$out/hello.jar" -C "$out/classes" .
./build/linux/glimvane-pack --stub build/linux/glimvane --out "$out/hello" \
  --name "Hello Glimvane" --jar "$out/hello.jar" --main example.Hello
./build/linux/glimvane-pack inspect "$out/hello"
echo
"$out/hello" -D* first "second word"

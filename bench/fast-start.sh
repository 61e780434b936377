#!/usr/bin/env bash
# Fast start benchmark (not part of the test run): an application that
# compiles one small file through javax.tools, launched again with the VM's
# class cache in place, against `java -cp` of the same jar, on OpenJDK 17
# and on Temurin 25 where it is installed. Goals: the cached launch in at
# most 0.8 times java -cp's time on 17, at most 0.6 times on 25.
#
#   bash bench/fast-start.sh [BUILD_DIR]      (default build/bench)
#
# Three ways per runtime, measured side by side in ROUNDS rounds (default
# 5) of RUNS/ROUNDS runs each (RUNS default 30), so that a change in the
# machine's load falls on all of them alike; medians of all runs:
#   java -cp      the runtime's own launcher
#   hosted        vmcache_host, which hosts the VM as the launcher does,
#                 without a VM cache ($JOP sets class sharing itself)
#   hosted+cache  the same with the VM cache, made by a launch before
# and, when glimvane-pack has --fast-start, a package of the same jar made
# with it (its first launch before the measured ones).
# Needs hyperfine and jq (apt-get install hyperfine jq).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/bench}
runs=${RUNS:-30}
rounds=${ROUNDS:-5}

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target glimvane_stub glimvane_pack vmcache_host vmcache_jars >/dev/null
stub=$PWD/$build/glimvane
pack=$PWD/$build/glimvane-pack
host=$PWD/$build/tests/vmcache_host

work=$(mktemp -d "${TMPDIR:-/tmp}/glimvane-fast.XXXXXX")
trap 'rm -rf "$work"' EXIT
export TMPDIR=$work/tmp
mkdir -p "$TMPDIR"
cp "$build/tests/vmcache-app.jar" "$work/app.jar"
cp "$build/tests/vmcache-boot.jar" "$work/boot.jar"

package=
if "$pack" --help 2>&1 | grep -q -- --fast-start; then
  package=$work/app.pkg
  "$pack" --stub "$stub" --out "$package" --jar "$work/app.jar" --main Compile --fast-start >/dev/null
fi

ms() { awk -v a="$1" 'BEGIN { printf "%.0f ms", a * 1000 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
# The median of command $2's times over every round's JSON file.
median_of() {
  jq -s "[.[].results[$2].times[]] | sort | if length % 2 == 1 then .[length / 2 | floor]
         else (.[length / 2 - 1] + .[length / 2]) / 2 end" "$1"/round*.json
}

runtimes=(/usr/lib/jvm/java-17-openjdk-amd64)
[ -e /usr/lib/jvm/temurin-25-jdk-amd64/lib/server/libjvm.so ] && runtimes+=(/usr/lib/jvm/temurin-25-jdk-amd64)
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
for jdk in "${runtimes[@]}"; do
  lib=$jdk/lib/server/libjvm.so
  rm -rf "$work/cache" "$work/run" "$work/json"
  mkdir -p "$work/cache" "$work/run" "$work/json"
  # One temp folder for all hosted runs: the runtime turns an older cache
  # log there aside.
  hosted="$host $lib $work/cache $work/boot.jar:$work/app.jar $work/run"
  # The first launches make the caches.
  $hosted >/dev/null
  commands=("$jdk/bin/java -cp $work/app.jar Compile" "env JOP=-Xshare:auto $hosted" "$hosted")
  if [ -n "$package" ]; then
    "$package" -W* "-jvm:$lib" >/dev/null
    commands+=("$package -W* -jvm:$lib")
  fi
  for round in $(seq "$rounds"); do
    hyperfine -N -w 1 -r $((runs / rounds)) --export-json "$work/json/round$round.json" "${commands[@]}" >/dev/null
  done
  plain=$(median_of "$work/json" 0)
  bare=$(median_of "$work/json" 1)
  cached=$(median_of "$work/json" 2)
  line="$(basename "$jdk"): java -cp $(ms "$plain"); hosted $(ms "$bare") ($(ratio "$bare" "$plain"));"
  line+=" hosted+cache $(ms "$cached") ($(ratio "$cached" "$plain"))"
  if [ -n "$package" ]; then
    packed=$(median_of "$work/json" 3)
    line+="; --fast-start package $(ms "$packed") ($(ratio "$packed" "$plain"))"
  fi
  echo "$line"
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"

#!/usr/bin/env bash
# Fast start benchmark (not part of the test run): an application that
# compiles one small file through javax.tools, packed with --fast-start,
# against `java -cp` of the same jar, on OpenJDK 17 and on Temurin 25 where
# it is installed. Goals: the first launch at most 1.1 times java -cp on
# both; later launches at most 0.5 times on 25 and 0.7 times on 17; a
# later launch whose work differs from the first launch's never above 1.0.
#
#   bash bench/fast-start.sh [BUILD_DIR]      (default build/bench)
#
# Per runtime, measured side by side in ROUNDS rounds (default 5) of
# RUNS/ROUNDS runs each (RUNS default 30), so that a change in the
# machine's load falls on all of them alike; medians of all runs:
#   java -cp      the runtime's own launcher
#   first         the package with a fresh cache at every run
#   later         the package, its class cache made by an earlier launch
#   other work    the package, its class cache made by a launch that did
#                 other work (`Compile version`: the runtime's version only)
# Before every run the builder of an earlier one is waited for, so that it
# runs on no measured launch's time.
# Needs hyperfine, jq and flock (apt-get install hyperfine jq util-linux).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/bench}
runs=${RUNS:-30}
rounds=${ROUNDS:-5}

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target glimvane_stub glimvane_pack vmcache_jars >/dev/null
stub=$PWD/$build/glimvane
pack=$PWD/$build/glimvane-pack

work=$(mktemp -d "${TMPDIR:-/tmp}/glimvane-fast.XXXXXX")
trap 'rm -rf "$work"' EXIT
export TMPDIR=$work/tmp
mkdir -p "$TMPDIR"
cp "$build/tests/vmcache-app.jar" "$work/app.jar"
package=$work/app.pkg
"$pack" --stub "$stub" --out "$package" --jar "$work/app.jar" --main Compile --fast-start >/dev/null

ms() { awk -v a="$1" 'BEGIN { printf "%.0f ms", a * 1000 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
# The median of command $2's times over every round's JSON file.
median_of() {
  jq -s "[.[].results[$2].times[]] | sort | if length % 2 == 1 then .[length / 2 | floor]
         else (.[length / 2 - 1] + .[length / 2]) / 2 end" "$1"/round*.json
}
# Waits for every builder at work below the caches (each holds its lock).
idle="for f in $work/caches/*/glimvane/*/vm-*.jsa.build; do [ -e \"\$f\" ] && flock \"\$f\" true; done; true"

runtimes=(/usr/lib/jvm/java-17-openjdk-amd64)
[ -e /usr/lib/jvm/temurin-25-jdk-amd64/lib/server/libjvm.so ] && runtimes+=(/usr/lib/jvm/temurin-25-jdk-amd64)
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
for jdk in "${runtimes[@]}"; do
  lib=$jdk/lib/server/libjvm.so
  rm -rf "$work/caches" "$work/json"
  mkdir -p "$work/caches/first" "$work/caches/later" "$work/caches/other" "$work/json"
  run() { echo "env XDG_CACHE_HOME=$work/caches/$1 $package -W* -jvm:$lib ${2:-}"; }
  # The caches of the later launches: made by one launch each, then their
  # builders waited for.
  $(run later) >/dev/null
  $(run other version) >/dev/null
  bash -c "$idle"
  for round in $(seq "$rounds"); do
    hyperfine -N -w 1 -r $((runs / rounds)) --export-json "$work/json/round$round.json" \
      --prepare "bash -c '$idle'" "$jdk/bin/java -cp $work/app.jar Compile" \
      --prepare "bash -c '$idle; rm -rf $work/caches/first'" "$(run first)" \
      --prepare "bash -c '$idle'" "$(run later)" \
      --prepare "bash -c '$idle'" "$(run other)" >/dev/null
  done
  plain=$(median_of "$work/json" 0)
  line="$(basename "$jdk"): java -cp $(ms "$plain")"
  i=1
  for name in first later "other work"; do
    t=$(median_of "$work/json" $i)
    line+="; $name $(ms "$t") ($(ratio "$t" "$plain"))"
    i=$((i + 1))
  done
  echo "$line"
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"

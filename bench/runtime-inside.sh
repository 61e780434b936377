#!/usr/bin/env bash
# Packages that carry their runtime (not part of the test run): the example
# hello packed with --runtime of a jlink image of OpenJDK 17, java.base
# alone and java.desktop, each plain and --compress, and java.desktop as
# jlink compresses and strips it, packed --compress, against `java -cp` of
# the installed runtime. Goals: a later launch at most 1.0 times java -cp,
# the first launch (the runtime extracted) at most 2.5 times.
#
#   bash bench/runtime-inside.sh [BUILD_DIR]      (default build/bench)
#
# Per package, measured side by side in ROUNDS rounds (default 4) of
# RUNS/ROUNDS runs each (RUNS default 20); medians of all runs:
#   first   a fresh cache at every run: the runtime and jars extracted
#   later   the cache and the class cache made by an earlier launch
# and the package's size and the process's peak memory (the launcher with
# the VM inside it) of a first and a later launch, from /usr/bin/time -v.
# Before every run the class cache builder of an earlier one is waited for.
# Needs hyperfine, jq and flock (apt-get install hyperfine jq util-linux).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/bench}
runs=${RUNS:-20}
rounds=${ROUNDS:-4}
jdk=/usr/lib/jvm/java-17-openjdk-amd64

[ -e "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target glimvane_stub glimvane_pack example_hello >/dev/null
stub=$PWD/$build/glimvane
pack=$PWD/$build/glimvane-pack
hello=$PWD/$build/examples/hello.jar

work=$(mktemp -d "${TMPDIR:-/tmp}/glimvane-inside.XXXXXX")
trap 'rm -rf "$work"' EXIT
export TMPDIR=$work/tmp
mkdir -p "$TMPDIR" "$work/json" "$work/caches"

# image name, jlink options; "small" is the image jlink itself compresses
# and strips, packed --compress only.
images=("base|--add-modules java.base" "desktop|--add-modules java.desktop"
        "desktop-small|--add-modules java.desktop --compress=2 --strip-debug --no-header-files --no-man-pages")
names=()
for entry in "${images[@]}"; do
  image=${entry%%|*}
  # shellcheck disable=SC2086
  "$jdk/bin/jlink" ${entry#*|} --output "$work/image-$image" >/dev/null
  modes=("" --compress)
  [[ $image == *-small ]] && modes=(--compress)
  for compress in "${modes[@]}"; do
    name=$image${compress:+-compressed}
    start=$(date +%s.%N)
    "$pack" --stub "$stub" --out "$work/$name" --jar "$hello" --main example.Hello --runtime "$work/image-$image" \
      $compress >/dev/null
    end=$(date +%s.%N)
    echo "$name: $(stat -c %s "$work/$name") bytes, image $(du -sb "$work/image-$image" | cut -f1) bytes," \
      "packed in $(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.1f s", b - a }')"
    names+=("$name")
  done
done

ms() { awk -v a="$1" 'BEGIN { printf "%.0f ms", a * 1000 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
median_of() {
  jq -s "[.[].results[$1].times[]] | sort | if length % 2 == 1 then .[length / 2 | floor]
         else (.[length / 2 - 1] + .[length / 2]) / 2 end" "$work"/json/round*.json
}
# Waits until no class cache builder runs: one may start a moment after
# its launch ended, before it holds its lock.
idle="sleep 0.2; while pgrep -f -- '-vmcache[*]' >/dev/null; do sleep 0.05; done; true"
run() { echo "env XDG_CACHE_HOME=$work/caches/$1-$2 $work/$1"; }
peak() { /usr/bin/time -v "$@" 2>&1 >/dev/null | sed -n 's/.*Maximum resident set size (kbytes): //p'; }

# The caches of the later launches: one launch each, then its builder,
# until the class cache is there.
for name in "${names[@]}"; do $(run "$name" later) >/dev/null; done
for name in "${names[@]}"; do
  for _ in $(seq 600); do
    ls "$work/caches/$name-later"/glimvane/*/vm-*.jsa >/dev/null 2>&1 && break
    sleep 0.1
  done
done
bash -c "$idle"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
for round in $(seq "$rounds"); do
  commands=(--prepare "bash -c '$idle'" "$jdk/bin/java -cp $hello example.Hello")
  for name in "${names[@]}"; do
    commands+=(--prepare "bash -c '$idle; rm -rf $work/caches/$name-first'" "$(run "$name" first)")
    commands+=(--prepare "bash -c '$idle'" "$(run "$name" later)")
  done
  hyperfine -N -w 1 -r $((runs / rounds)) --export-json "$work/json/round$round.json" "${commands[@]}" >/dev/null
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
plain=$(median_of 0)
echo "java -cp: $(ms "$plain"), peak $(peak "$jdk/bin/java" -cp "$hello" example.Hello) kB"
i=1
for name in "${names[@]}"; do
  first=$(median_of $i)
  later=$(median_of $((i + 1)))
  bash -c "$idle"
  rm -rf "$work/caches/$name-peak"
  first_peak=$(peak $(run "$name" peak))
  bash -c "$idle"
  later_peak=$(peak $(run "$name" peak))
  echo "$name: first $(ms "$first") ($(ratio "$first" "$plain")), later $(ms "$later") ($(ratio "$later" "$plain"));" \
    "peak $first_peak kB first, $later_peak kB later"
  i=$((i + 2))
done

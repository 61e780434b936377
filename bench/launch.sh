#!/usr/bin/env bash
# Launch benchmarks of the linux-x64 stub (not part of the test run): builds
# a Release stub and packer, a 100 MB package (ten 10 MB jars of random
# bytes) and a 1 MB one (ten 100 KB jars), and compares them side by side
# with hyperfine against `cp -r` of the same files and `java -cp` of the
# same jars, and the 100 MB package packed with --fast-start once its cache
# is filled. Prints medians and ratios.
#
#   bash bench/launch.sh [BUILD_DIR]      (default build/release)
#
# STUB=path/to/glimvane measures another stub (an older build, say) with
# the packer of BUILD_DIR.
# Needs hyperfine, jq, valgrind and GNU time (apt-get install hyperfine jq valgrind time).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
runs=${RUNS:-30}

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGLIMVANE_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target glimvane_stub glimvane_pack >/dev/null
stub=${STUB:-$PWD/$build/glimvane}
pack=$PWD/$build/glimvane-pack

work=$(mktemp -d "${TMPDIR:-/tmp}/glimvane-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
# The launcher's temp folders and the cp copies land on the same file system.
export TMPDIR=$work/tmp
mkdir -p "$TMPDIR"

# Two mains: one that returns at once, one that prints one line.
mkdir -p "$work/src" "$work/classes"
printf 'public class Quick { public static void main(String[] a) {} }\n' >"$work/src/Quick.java"
printf 'public class Hello { public static void main(String[] a) { System.out.println("hello"); } }\n' \
  >"$work/src/Hello.java"
javac --release 8 -nowarn -d "$work/classes" "$work/src/Quick.java" "$work/src/Hello.java" 2>/dev/null
jar cf "$work/main.jar" -C "$work/classes" .

# make_package NAME SIZE_OF_EACH_JAR: ten jars of random bytes behind main.jar.
make_package() {
  local name=$1 size=$2 args=(--jar "$work/main.jar") cp=$work/main.jar
  mkdir -p "$work/$name"
  for i in 0 1 2 3 4 5 6 7 8 9; do
    head -c "$size" /dev/urandom >"$work/$name/j$i.jar"
    args+=(--jar "$work/$name/j$i.jar")
    cp+=":$work/$name/j$i.jar"
  done
  "$pack" --stub "$stub" --out "$work/$name.pkg" --main Quick "${args[@]}" >/dev/null
  echo "$cp"
}
big_cp=$(make_package big $((10 << 20)))
small_cp=$(make_package small $((100 << 10)))
"$pack" --stub "$stub" --out "$work/hello.pkg" --jar "$work/main.jar" --main Hello >/dev/null

median() { jq -r ".results[$2].median" "$1"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
ms() { awk -v a="$1" 'BEGIN { printf "%.1f ms", a * 1000 }'; }

jdk17=/usr/lib/jvm/java-17-openjdk-amd64
runtimes=("$jdk17")
[ -d /usr/lib/jvm/temurin-25-jdk-amd64 ] && runtimes+=(/usr/lib/jvm/temurin-25-jdk-amd64)
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"

# 1. Extraction. -jvm: names a library that does not exist, so the run ends
# right after the extraction (and starts the removal child); the full run
# with the JVM minus `java -cp` of the same jars is the second figure.
hyperfine -N -i -w 3 -r "$runs" --export-json "$work/extract.json" \
  --prepare "rm -rf $work/copy" "cp -r $work/big $work/copy" \
  "$work/big.pkg -Q* -W* -jvm:$work/none.so" \
  "$work/big.pkg -Q* -W* -jvm:$jdk17/lib/server/libjvm.so" \
  "$jdk17/bin/java -cp $big_cp Quick" >/dev/null
cp_t=$(median "$work/extract.json" 0)
pre_vm=$(median "$work/extract.json" 1)
full=$(median "$work/extract.json" 2)
java_t=$(median "$work/extract.json" 3)
echo "extraction, 100 MB: cp -r $(ms "$cp_t"); launcher up to the VM $(ms "$pre_vm")" \
  "(ratio $(ratio "$pre_vm" "$cp_t")); full launch $(ms "$full") - java -cp $(ms "$java_t")" \
  "= $(ms "$(awk -v a="$full" -v b="$java_t" 'BEGIN { print a - b }')")" \
  "(ratio $(ratio "$(awk -v a="$full" -v b="$java_t" 'BEGIN { print a - b }')" "$cp_t"))"

# 2. Start-up overhead: the packed one-line main against java -cp.
for jdk in "${runtimes[@]}"; do
  hyperfine -N -w 3 -r "$runs" --export-json "$work/startup.json" \
    "$work/hello.pkg -W* -jvm:$jdk/lib/server/libjvm.so" \
    "$jdk/bin/java -cp $work/main.jar Hello" >/dev/null
  packed=$(median "$work/startup.json" 0)
  plain=$(median "$work/startup.json" 1)
  echo "start-up, $(basename "$jdk"): packed $(ms "$packed"), java -cp $(ms "$plain")" \
    "(ratio $(ratio "$packed" "$plain"))"
done

# 3. Memory: the launcher's peak heap up to the VM, 100 MB against 1 MB.
peak_heap() {
  valgrind -q --tool=massif --massif-out-file="$work/massif.out" "$1" -Q* -W* "-jvm:$work/none.so" || true
  grep mem_heap_B= "$work/massif.out" | cut -d= -f2 | sort -n | tail -1
}
big_heap=$(peak_heap "$work/big.pkg")
small_heap=$(peak_heap "$work/small.pkg")
echo "peak heap up to the VM: 100 MB package $((big_heap / 1024)) KiB, 1 MB package" \
  "$((small_heap / 1024)) KiB (difference $(((big_heap - small_heap) / 1024)) KiB)"
# Peak resident memory, the pages of the mapping it touched included.
peak_rss() {
  /usr/bin/time -f %M -o "$work/time.out" "$1" -Q* -W* "-jvm:$work/none.so" >/dev/null 2>&1 || true
  tail -1 "$work/time.out"
}
big_rss=$(peak_rss "$work/big.pkg")
small_rss=$(peak_rss "$work/small.pkg")
echo "peak resident up to the VM: 100 MB package $big_rss KiB, 1 MB package $small_rss KiB" \
  "(difference $((big_rss - small_rss)) KiB)"

# 4. Ten launches in a row, five times: the first against the tenth.
firsts=() tenths=()
for round in 1 2 3 4 5; do
  sleep 2
  hyperfine -N -r 10 --export-json "$work/row.json" "$work/big.pkg -Q* -W*" >/dev/null 2>&1
  firsts+=("$(jq -r '.results[0].times[0]' "$work/row.json")")
  tenths+=("$(jq -r '.results[0].times[9]' "$work/row.json")")
done
mid() { printf '%s\n' "$@" | sort -g | sed -n 3p; }
echo "ten in a row, median of 5 rounds: first $(ms "$(mid "${firsts[@]}")"), tenth $(ms "$(mid "${tenths[@]}")")" \
  "(ratio $(ratio "$(mid "${tenths[@]}")" "$(mid "${firsts[@]}")"))"

# 5. Fast start: the same 100 MB packed with --fast-start, its cache filled
# by one launch; later launches against the package that extracts each time.
export XDG_CACHE_HOME=$work/cache
fast_args=(--jar "$work/main.jar")
for i in 0 1 2 3 4 5 6 7 8 9; do fast_args+=(--jar "$work/big/j$i.jar"); done
"$pack" --stub "$stub" --out "$work/fast.pkg" --main Quick --fast-start "${fast_args[@]}" >/dev/null
"$work/fast.pkg" -Q* -W* >/dev/null
hyperfine -N -i -w 3 -r "$runs" --export-json "$work/fast.json" \
  "$work/big.pkg -Q* -W* -jvm:$work/none.so" "$work/fast.pkg -Q* -W* -jvm:$work/none.so" \
  "$work/big.pkg -Q* -W*" "$work/fast.pkg -Q* -W*" >/dev/null
echo "fast start, 100 MB, up to the VM: extracting $(ms "$(median "$work/fast.json" 0)")," \
  "from the cache $(ms "$(median "$work/fast.json" 1)"); full launch $(ms "$(median "$work/fast.json" 2)")," \
  "from the cache $(ms "$(median "$work/fast.json" 3)")"
# The debug log's counter: the cache check, and no file extracted.
log=$("$work/fast.pkg" -D* -W* "-jvm:$work/none.so" -Q* | tr -d '\r' || true)
echo "fast start, debug log: $(grep -cE '^!extracted=' <<<"$log") files extracted;" \
  "$(grep -E '^!(temp.folder|cache.hit|path)=' <<<"$log" | sed -E 's/^!([a-z.]+)=.* \[([0-9]+)\]$/\1 at \2 ms/' | paste -sd, -)"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"

#!/usr/bin/env bash
# Desktop benchmarks of the linux-x64 stub (not part of the test run), on a
# virtual display (Xvfb):
#  - the splash screen: from the launcher's start to the splash being up
#    ("splash.shown" of the -D* log), and the launch up to the VM with and
#    without a splash: the log's "jvm=" (the runtime is chosen, its VM
#    library about to load) and "vm.java.invoke" (the VM is made and the
#    program is called), in interleaved launches of a package whose main
#    returns at once; medians and their differences;
#  - one instance: a second launch that hands its words to the running
#    instance, timed by hyperfine.
#
#   bash bench/desktop.sh BUILD_DIR      (a build with glimvane and glimvane-pack)
#
# Needs Xvfb, hyperfine and jq.
set -euo pipefail
build=$(cd "${1:?give the build folder}" && pwd)
cd "$(dirname "$0")/.."
stub=$build/glimvane pack=$build/glimvane-pack image=$PWD/tests/e2e/desktop_apps/red.png
runs=${RUNS:-30}

work=$(mktemp -d "${TMPDIR:-/tmp}/glimvane-bench.XXXXXX")
exec 3< <(Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp 2>/dev/null)
xvfb=$!
trap 'kill $xvfb 2>/dev/null; rm -rf "$work"' EXIT
read -r number <&3
export DISPLAY=:$number TMPDIR=$work/tmp XDG_RUNTIME_DIR=$work/run
mkdir -p "$TMPDIR" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

mkdir -p "$work/src" "$work/classes"
cat >"$work/src/Quick.java" <<'JAVA'
public class Quick {
    public static void main(String[] a) throws Exception {
        if (a.length > 0) while (!new java.io.File(a[0]).exists()) Thread.sleep(20);
    }
    public static void words(String[] w) {}
}
JAVA
javac --release 8 -nowarn -d "$work/classes" "$work/src/Quick.java" 2>/dev/null
jar cf "$work/main.jar" -C "$work/classes" .
"$pack" --stub "$stub" --out "$work/plain" --jar "$work/main.jar" --main Quick >/dev/null
"$pack" --stub "$stub" --out "$work/splash" --jar "$work/main.jar" --main Quick --splash "$image" >/dev/null
"$pack" --stub "$stub" --out "$work/once" --jar "$work/main.jar" --main Quick --single-instance Quick.words >/dev/null

# at LOG KEY: the milliseconds of the first "!KEY..." line.
at() { tr -d "\r" <"$1" | sed -n "s/^!$2[^ ]* .*\[\([0-9]*\)\]\$/\1/p" | head -1; }
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }

jdk17=/usr/lib/jvm/java-17-openjdk-amd64
runtimes=("$jdk17")
[ -d /usr/lib/jvm/temurin-25-jdk-amd64 ] && runtimes+=(/usr/lib/jvm/temurin-25-jdk-amd64)
for home in "${runtimes[@]}"; do
  export JAVA_HOME=$home
  : >"$work/plain.jvm"; : >"$work/plain.vm"; : >"$work/splash.jvm"; : >"$work/splash.vm"; : >"$work/shown"
  for _ in $(seq 3); do "$work/plain" >/dev/null; "$work/splash" >/dev/null; done  # warm the caches
  for i in $(seq "$runs"); do
    # Each pair in the other order than the last.
    order="plain splash"
    [ $((i % 2)) == 0 ] && order="splash plain"
    for kind in $order; do
      "$work/$kind" -D* >"$work/log" 2>&1
      at "$work/log" 'jvm=' >>"$work/$kind.jvm"
      at "$work/log" 'vm.java.invoke' >>"$work/$kind.vm"
      [ $kind == splash ] && at "$work/log" 'splash.shown=' >>"$work/shown"
    done
  done
  pj=$(median <"$work/plain.jvm") sj=$(median <"$work/splash.jvm")
  pv=$(median <"$work/plain.vm") sv=$(median <"$work/splash.vm")
  echo "$(basename "$home"): splash up at $(median <"$work/shown") ms (median of $runs)"
  echo "  runtime chosen (jvm=):        $pj ms without, $sj ms with a splash (difference $(awk -v a="$sj" -v b="$pj" 'BEGIN { print a - b }') ms)"
  echo "  VM made, program called:      $pv ms without, $sv ms with a splash (difference $(awk -v a="$sv" -v b="$pv" 'BEGIN { print a - b }') ms)"

  rm -f "$work/stop"
  "$work/once" "$work/stop" >/dev/null 2>&1 &
  instance=$!
  sleep 2
  hyperfine -N --warmup 3 --runs "$runs" --export-json "$work/once.json" "$work/once a 'b c'" >/dev/null
  echo "  hand-over to the instance:    $(jq -r '.results[0].median * 1000 | . * 10 | round / 10' "$work/once.json") ms median (hyperfine)"
  touch "$work/stop"
  wait $instance
done

#!/usr/bin/env bash
# Packages that carry their runtime, run where no Java is installed: a mount
# namespace with an empty tmpfs over /usr/lib/jvm, no JAVA_HOME and no java
# on the PATH. A jlink image of each installed JDK (OpenJDK 17, and Temurin
# 25 where present), plain and compressed, runs the example twice (the
# first start extracts, the second starts from the cache, and a -jvm:
# switch does not win over the packed runtime) and a program
# that starts its runtime's java through ProcessBuilder; the same package
# without --runtime ends with error 10 there. Needs root for unshare -m:
# skipped (77) otherwise.
# runtime_inside.sh PACK STUB HELLO_JAR IMAGES_FOLDER SPAWN_SOURCE_FOLDER
set -uo pipefail
pack=$1 stub=$2 hello=$3 images=$4 spawn_src=$5
name=runtime_inside
skip() { echo "$name: skipped: $*"; exit 77; }
fail() { echo "$name: $*"; printf '%s\n' "${out:-}" | head -40; exit 1; }
[ "$(id -u)" = 0 ] || skip "not root: unshare -m needs root"
unshare -m true 2>/dev/null || skip "unshare -m is not available here"

jdks=(/usr/lib/jvm/java-17-openjdk-amd64)
[ -x /usr/lib/jvm/temurin-25-jdk-amd64/bin/jlink ] && jdks+=(/usr/lib/jvm/temurin-25-jdk-amd64)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# jlink images are made once and kept in the build tree.
mkdir -p "$images"
image_of() {
  local jdk=$1 image
  image="$images/$(basename "$jdk")-base"
  if [ ! -e "$image/release" ]; then
    rm -rf "$image.part"
    "$jdk/bin/jlink" --add-modules java.base --output "$image.part" >/dev/null || fail "jlink of $jdk failed"
    mv "$image.part" "$image" || fail "cannot keep $image"
  fi
  echo "$image"
}

mkdir -p "$work/classes"
"${jdks[0]}/bin/javac" --release 17 -d "$work/classes" "$spawn_src/Spawn.java" || fail "javac failed"
"${jdks[0]}/bin/jar" --create --file "$work/spawn.jar" -C "$work/classes" . || fail "jar failed"

packages=()
for jdk in "${jdks[@]}"; do
  image=$(image_of "$jdk")
  for compress in "" --compress; do
    tag=$(basename "$jdk")${compress:+-compressed}
    "$pack" --stub "$stub" --out "$work/hello-$tag" --jar "$hello" --main example.Hello --runtime "$image" \
      $compress >/dev/null || fail "packing hello with $image failed"
    "$pack" --stub "$stub" --out "$work/spawn-$tag" --jar "$work/spawn.jar" --main Spawn --runtime "$image" \
      $compress >/dev/null || fail "packing spawn with $image failed"
    packages+=("$tag")
  done
done
"$pack" --stub "$stub" --out "$work/hello-none" --jar "$hello" --main example.Hello --fast-start >/dev/null ||
  fail "packing hello without a runtime failed"

# The checks, run inside the namespace.
cat > "$work/inside.sh" <<'INSIDE'
set -uo pipefail
work=$1
shift
mount -t tmpfs none /usr/lib/jvm || { echo "cannot mount a tmpfs over /usr/lib/jvm"; exit 1; }
unset JAVA_HOME JDK_HOME CLASSPATH
export PATH=/usr/bin:/bin XDG_CACHE_HOME=$work/cache HOME=$work/home TMPDIR=$work/tmp
mkdir -p "$HOME" "$TMPDIR"
fail() { echo "$*"; printf '%s\n' "$out" | head -40; exit 1; }
out=$(java -version 2>&1) && fail "a java still runs here"
for tag in "$@"; do
  # The second start names a VM library with -jvm:, which comes after the packed runtime.
  for start in first second; do
    words=(-D*)
    [ $start = second ] && words+=(-jvm:/usr/lib/jvm/none/lib/server/libjvm.so)
    out=$("$work/hello-$tag" "${words[@]}" 2>&1)
    rc=$?
    [ $rc -eq 0 ] || fail "hello-$tag, $start start: exit code $rc"
    grep -q '^Hello from a packaged Java application' <<<"$out" || fail "hello-$tag, $start start: no greeting"
    grep -q "^!packed.jvm=$XDG_CACHE_HOME/glimvane/[0-9a-f]*/runtime/lib/server/libjvm.so (found)" <<<"$out" ||
      fail "hello-$tag, $start start: not on the packed runtime"
    line=$([ $start = first ] && echo '^!cache.renamed=' || echo '^!cache.hit=')
    grep -q "$line" <<<"$out" || fail "hello-$tag, $start start: no $line line"
  done
  out=$("$work/spawn-$tag" 2>&1)
  rc=$?
  [ $rc -eq 7 ] || fail "spawn-$tag: exit code $rc, not 7"
  grep -q "^child runs on $XDG_CACHE_HOME/glimvane/[0-9a-f]*/runtime\$" <<<"$out" || fail "spawn-$tag: the child did not run"
  grep -q '^child ended with 3$' <<<"$out" || fail "spawn-$tag: no status of the child"
done
out=$("$work/hello-none" 2>&1)
rc=$?
[ $rc -eq 10 ] || fail "hello-none: exit code $rc, not 10"
exit 0
INSIDE
out=$(unshare -m bash "$work/inside.sh" "$work" "${packages[@]}" 2>&1) || fail "inside the namespace:"
echo "$name: ok (${packages[*]})"

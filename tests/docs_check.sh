#!/usr/bin/env bash
# Keeps the user pages true: every option glimvane-pack --help lists appears
# in docs/packaging.md, every launch error code of the launcher's message
# table and of the standard boot class has a heading in docs/errors.md, and
# the shell blocks of docs/ marked "<!-- run -->" run without error (those
# marked "<!-- run: windows -->" only when the windows-x64 stub is given).
#
# usage: docs_check.sh PACK STUB EXAMPLE_JAR JAVA_HOME SOURCE_ROOT [WIN64_STUB]
set -euo pipefail
pack=$1 stub=$2 example_jar=$3 java_home=$4 root=$5 win64=${6:-}
docs=$root/docs
failures=0
fail() {
  echo "docs_check: $*" >&2
  failures=$((failures + 1))
}

# Options and commands, as the help text lists them ("  --stub FILE",
# "  @FILE", "  glimvane-pack inspect FILE"): each must stand in backticks.
help=$("$pack" --help)
options=$(grep -oE '^  (--[a-z][a-z-]*|@FILE)' <<<"$help" | sed 's/^ *//'; grep -oE '^  glimvane-pack [a-z]+' <<<"$help" | cut -d' ' -f4)
[ "$(wc -w <<<"$options")" -ge 10 ] || fail "found only '$options' in glimvane-pack --help"
for option in $options; do
  grep -qE "\`$option([^a-z-]|$)" "$docs/packaging.md" || fail "docs/packaging.md does not describe $option"
done

# Error codes: the launcher's text_error_NN constants and texts beginning
# "NN: ", and the boot class's "NN: " texts. Each needs a heading "NN: ...".
codes=$( (grep -oE 'text_error_[0-9]+ =' "$root/support/messages.h" | grep -oE '[0-9]+'
  grep -oE '= "[0-9]+: ' "$root/support/messages.h" | grep -oE '[0-9]+'
  grep -oE '"[0-9]+: ' "$root/boot/glimvaneboot.java" | grep -oE '[0-9]+') | sort -un)
[ "$(wc -w <<<"$codes")" -ge 20 ] || fail "found only '$codes' as error codes"
for code in $codes; do
  grep -qE "^#+ $code: " "$docs/errors.md" || fail "docs/errors.md has no heading for error $code"
done

# The marked blocks, in a folder that holds what the pages promise.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin" "$work/run"
ln -s "$(realpath "$pack")" "$work/bin/glimvane-pack"
cp "$stub" "$work/run/glimvane"
cp "$example_jar" "$work/run/hello.jar"
windows=no
if [ -n "$win64" ] && [ -f "$win64" ]; then
  windows=yes
  cp "$win64" "$work/run/glimvane-x64.exe"
  cp "${win64%.exe}-console.exe" "$work/run/glimvane-x64-console.exe"
  cp "$root/resources/glimvane.ico" "$work/run/myapp.ico"
fi

ran=0
for page in "$docs"/*.md; do
  # Writes each marked block to BLOCK-N.sh (N counts from 1), naming the
  # Windows ones BLOCK-N.windows.sh.
  awk -v out="$work/$(basename "$page" .md)" '
    /^<!-- run(: windows)? -->$/ { mark = ($0 ~ /windows/) ? ".windows" : ""; want = 1; next }
    want && /^```sh$/ { n++; file = out "-" n mark ".sh"; inside = 1; want = 0; next }
    inside && /^```$/ { inside = 0; close(file); next }
    inside { print > file; next }
    { want = 0 }' "$page"
done
for block in "$work"/*.sh; do
  [ -e "$block" ] || continue
  if [[ $block == *.windows.sh && $windows == no ]]; then
    echo "skipped (no windows-x64 stub): $(basename "$block")"
    continue
  fi
  ran=$((ran + 1))
  if ! (cd "$work/run" && PATH="$work/bin:$java_home/bin:$PATH" JAVA_HOME=$java_home \
        bash -euo pipefail "$block" >"$block.out" 2>&1); then
    fail "the block $(basename "$block") failed:"
    sed 's/^/    /' "$block" "$block.out" >&2
  fi
done
[ "$ran" -gt 0 ] || fail "no marked block ran"
echo "options: $(wc -w <<<"$options"), codes: $(wc -w <<<"$codes"), blocks run: $ran"
[ "$failures" -eq 0 ]

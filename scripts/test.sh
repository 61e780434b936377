#!/usr/bin/env bash
# The whole test run: installs what is missing, builds the three targets,
# runs the unit and end-to-end tests (Wine included), then the unit tests
# again under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
jobs=$(nproc)

echo "== tests (linux-x64, windows-x64 under Wine)"
ctest --test-dir build/linux --output-on-failure -j "$jobs"

echo "== tests under AddressSanitizer and UndefinedBehaviorSanitizer"
san="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
cmake -S . -B build/sanitize -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS="$san" \
  -DCMAKE_EXE_LINKER_FLAGS="$san" >/dev/null
cmake --build build/sanitize -j "$jobs"
# Texts that live until the process ends are never released, by design.
ASAN_OPTIONS=detect_leaks=0 ctest --test-dir build/sanitize --output-on-failure -j "$jobs"

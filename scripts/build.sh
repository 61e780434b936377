#!/usr/bin/env bash
# Builds the three targets: linux-x64, windows-x86 and windows-x64.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
cmake -S . -B build/linux -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGLIMVANE_WIN64_STUB="$PWD/build/win-x64/glimvane-x64.exe" \
  -DGLIMVANE_WIN32_STUB="$PWD/build/win-x86/glimvane-x86.exe" >/dev/null
cmake --no-warn-unused-cli -S . -B build/win-x86 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
cmake --no-warn-unused-cli -S . -B build/win-x64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
for b in win-x86 win-x64 linux; do
  cmake --build build/$b -j "$jobs"
done

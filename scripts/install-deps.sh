#!/usr/bin/env bash
# Installs the Debian packages the builds and tests need, when missing.
set -euo pipefail

need=()
command -v cmake >/dev/null || need+=(cmake)
command -v g++ >/dev/null || need+=(g++)
command -v i686-w64-mingw32-g++ >/dev/null || need+=(g++-mingw-w64-i686)
command -v x86_64-w64-mingw32-g++ >/dev/null || need+=(g++-mingw-w64-x86-64)
command -v wine >/dev/null || need+=(wine)
[ -e /usr/lib/wine/wine64 ] || need+=(wine64)
[ -e /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
[ -e /usr/include/gmock/gmock.h ] || need+=(libgmock-dev)
[ -e /usr/include/benchmark/benchmark.h ] || need+=(libbenchmark-dev)
command -v javac >/dev/null || need+=(default-jdk-headless)
# Resource checks and signing of Windows packages.
command -v wrestool >/dev/null || need+=(icoutils)
command -v exiftool >/dev/null || need+=(libimage-exiftool-perl)
command -v osslsigncode >/dev/null || need+=(osslsigncode)
command -v openssl >/dev/null || need+=(openssl)
# A system JNI library that packed programs load as under java; script runs
# them in a pseudo-terminal.
[ -e /usr/lib/x86_64-linux-gnu/jni/libjffi-1.2.so ] || need+=(libjffi-jni)
command -v script >/dev/null || need+=(bsdutils)
# Reads back the jar that glimvane-pack writes itself.
command -v unzip >/dev/null || need+=(unzip)
# zlib for compressed sections, linked statically into every stub.
[ -e /usr/lib/x86_64-linux-gnu/libz.a ] || need+=(zlib1g-dev)
[ -e /usr/x86_64-w64-mingw32/lib/libz.a ] && [ -e /usr/i686-w64-mingw32/lib/libz.a ] || need+=(libz-mingw-w64-dev)
# The second local account of the shared-machine tests.
[ -x /usr/sbin/useradd ] || need+=(passwd)
[ -x /usr/bin/setpriv ] || need+=(util-linux)
# The splash screen tests: a virtual display, its screenshots, a display check.
command -v Xvfb >/dev/null || need+=(xvfb)
command -v import >/dev/null || need+=(imagemagick)
command -v xdpyinfo >/dev/null || need+=(x11-utils)

[ ${#need[@]} -eq 0 ] && exit 0
if [ "$(id -u)" != 0 ]; then
  echo "Missing Debian packages: ${need[*]}" >&2
  echo "Install them as root: apt-get install ${need[*]}" >&2
  exit 1
fi
echo "Installing: ${need[*]}"
export DEBIAN_FRONTEND=noninteractive
# A mirror can fail one index: retry the update, and judge by the install.
for attempt in 1 2 3; do
  apt-get update -q >/dev/null 2>&1 && break
  sleep 5
done
# Never wine32: these machines cannot run i386 programs, and its loader
# replaces the one behind wine, which then cannot start 64-bit ones either.
for attempt in 1 2 3; do
  apt-get install -y -q --no-install-recommends "${need[@]}" wine32- >/dev/null && exit 0
  sleep 5
  apt-get update -q >/dev/null 2>&1 || true
done
echo "Could not install: ${need[*]}" >&2
exit 1

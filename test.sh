#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the plain build,
# the same suite again under AddressSanitizer and UndefinedBehaviorSanitizer
# (warnings as errors there), and a short run of each fuzz target.
set -euo pipefail
cd "$(dirname "$0")"
sudo_if_needed() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }
sudo_if_needed .ci/install-deps
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build
ctest --test-dir build --output-on-failure -j2

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVS_SANITIZE=ON -DCMAKE_COMPILE_WARNING_AS_ERROR=ON
cmake --build build-asan
# Leaks inside system libraries (fonts, D-Bus, GLib: what a Qt test pulls
# in) are not ours; tests/lsan.supp names them, and only them.
ASAN_OPTIONS=strict_string_checks=1:detect_leaks=1 \
UBSAN_OPTIONS=print_stacktrace=1 \
LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0" \
  ctest --test-dir build-asan --output-on-failure -j2

fuzz/run

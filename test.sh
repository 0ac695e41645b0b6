#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the plain build,
# the same suite again under AddressSanitizer and UndefinedBehaviorSanitizer
# (warnings as errors there), the tests that start threads once more in a
# Clang build under ThreadSanitizer (warnings as errors, Clang's lock checks
# among them), and a short run of each fuzz target.
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

# One Clang build serves both checks: -Wthread-safety (on for any Clang
# build) with warnings as errors, and ThreadSanitizer. Only the engine,
# the command line and their tests: Qt is not instrumented.
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DVS_TSAN=ON -DVS_BUILD_UI=OFF \
  -DVS_BUILD_BENCH=OFF -DCMAKE_COMPILE_WARNING_AS_ERROR=ON
cmake --build build-tsan --target vellumshaper_tests vellumshaper-cli
# Every suite that may start a thread, in the tests or in vellumshaper-cli
# they run; left out are those that work on bytes in memory only. Clang
# 14's ThreadSanitizer cannot place its shadow memory where a kernel with
# more address randomness maps a program, so the run goes without it
# (setarch -R, which the CLI runs inherit too). Any report fails the test.
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  setarch "$(uname -m)" -R \
  ctest --test-dir build-tsan --output-on-failure -j2 \
    -E '^(Cases/)?(ByteSearch|ParseCommandLine|TextRewriter|ReplaceText|CutLength)Test\.'

fuzz/run

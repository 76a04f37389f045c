#!/usr/bin/env bash
# Sets up what is missing, builds, and runs the whole test suite through ctest; then builds the
# libraries and the tests again with AddressSanitizer and UndefinedBehaviorSanitizer (in
# build-asan/) and runs the suite once more, where any report fails the run.
set -euo pipefail
cd "$(dirname "$0")"

source tools/quietly.sh

tools/install-deps.sh --gui --test
quietly build/configure.log cmake --preset dev
quietly build/build.log cmake --build --preset dev -j"$(nproc)"
ctest --preset dev

# The sanitizer build: everything but the Qt window, which the core never sees. A report
# aborts the test that made it (halt_on_error, -fno-sanitize-recover), so ctest fails.
export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
quietly build-asan/configure.log cmake --preset asan
quietly build-asan/build.log cmake --build --preset asan -j"$(nproc)"
ctest --preset asan

#!/usr/bin/env bash
# Sets up what is missing, builds, and runs the whole test suite through ctest; then builds the
# libraries and the tests again with AddressSanitizer and UndefinedBehaviorSanitizer (in
# build-asan/) and runs the suite once more, where any report fails the run; and last runs the
# engine's tests, whose export uses two threads, under ThreadSanitizer (in build-tsan/); and then
# builds the Windows programs and runs their tests under wine (tools/windows-tests.sh).
set -euo pipefail
cd "$(dirname "$0")"

source tools/quietly.sh

tools/install-deps.sh --gui --test

# Every C++ file as .clang-format lays it out; the differences are printed.
find engine settings ui cli app tools tests bench \( -name '*.cpp' -o -name '*.hpp' \) -print0 |
  xargs -0 clang-format --dry-run -Werror || { echo "test.sh: run clang-format -i on the files above" >&2; exit 1; }
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

# The export shares its work between two threads: the engine's tests, the failure tests (real
# files, full disks, recordings that change) and the formats' tests run under ThreadSanitizer,
# where a data race fails the run. The 4 GiB sparse recording is left out: it takes half a
# minute there.
export TSAN_OPTIONS=halt_on_error=1:abort_on_error=1
quietly build-tsan/configure.log cmake --preset tsan
quietly build-tsan/build.log cmake --build --preset tsan -j"$(nproc)" --target engine_test failure_test \
  formats_test
# Without address randomisation: ThreadSanitizer's fixed memory layout fails to start on
# kernels that randomise more address bits than it expects.
no_aslr=(setarch "$(uname -m)" -R)
"${no_aslr[@]}" true 2>/dev/null || no_aslr=()
# Run outside ctest, so each has a time limit of its own: a hang fails the run.
no_aslr=(timeout -k 10 900 "${no_aslr[@]}")
"${no_aslr[@]}" build-tsan/tests/engine_test --gtest_brief=1
"${no_aslr[@]}" build-tsan/tests/failure_test --gtest_brief=1 --gtest_filter='-*SparseFile*'
# The formats' writers, the BIDS samples' compression on two threads among them.
"${no_aslr[@]}" build-tsan/tests/formats_test --gtest_brief=1

# The Windows programs: cross-built, tested under wine, compared byte for byte with the Linux
# build's output, and packed into their zip.
tools/windows-tests.sh build

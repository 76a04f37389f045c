#!/usr/bin/env bash
# Sets up what is missing, builds, and runs the whole test suite through ctest.
set -euo pipefail
cd "$(dirname "$0")"

tools/install-deps.sh --gui --test
cmake --preset dev >/dev/null
cmake --build --preset dev -j"$(nproc)" >/dev/null
ctest --preset dev

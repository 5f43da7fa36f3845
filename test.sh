#!/usr/bin/env bash
# Builds the test configuration (AddressSanitizer and UndefinedBehaviorSanitizer)
# and runs every test.
set -euo pipefail
cd "$(dirname "$0")"
bash scripts/install_deps.sh test
cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" \
      -DQV_SANITIZE=ON -DQV_TESTS=ON -DQV_BENCH=OFF
cmake --build build/test -j"$(nproc)"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build/test -j"$(nproc)" --output-on-failure

#!/usr/bin/env bash
# Runs the example model in the Release build and prints the time of each stage
# (the program's own timing lines and the stage totals) and the peak memory.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install_deps.sh test
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQV_TESTS=OFF -DQV_BENCH=ON >/dev/null
cmake --build build/release -j"$(nproc)" --target quelvo qvgen qvbench
bin="$PWD/build/release/bin"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$bin/qvgen" --data "$work" --model "$work"
cp examples/example.par "$work/"
cp "$bin/quelvo" "$work/"
cd "$work"
echo "== the example model, with the program's own timing lines"
/usr/bin/time -f "wall %e s, cpu %U s user + %S s system, peak memory %M kB" ./quelvo example \
  | grep -E "time=|timestep|Number of time steps" || true
echo
echo "== stage totals (process time per stage) and peak memory"
"$bin/qvbench" --benchmark_filter=BM_ExampleRun --benchmark_counters_tabular=true

#!/usr/bin/env bash
# Runs the example model in the Release build with one thread and with every
# core (OMP_NUM_THREADS, all cores when it is not set), and prints the wall and
# cpu time, the peak memory and the program's own timing lines of each; then
# the column pass of one target in the vector lanes against the scalar path.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install_deps.sh test
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQV_TESTS=OFF -DQV_BENCH=ON >/dev/null
cmake --build build/release -j"$(nproc)" --target quelvo qvgen qvbench
bin="$PWD/build/release/bin"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$bin/qvgen" --data "$work" --model "$work" >/dev/null
cp examples/example.par "$work/"
cp "$bin/quelvo" "$work/"
cores="${OMP_NUM_THREADS:-$(nproc)}"
echo "== machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')"
for threads in 1 "$cores"; do
  echo
  echo "== the example model with $threads thread(s)"
  (cd "$work" && OMP_NUM_THREADS="$threads" /usr/bin/time \
      -f "wall %e s, cpu %U s user + %S s system, peak memory %M kB" ./quelvo example 2>&1 >run.log;
   grep -E "time=|cputime" run.log || true)
done
echo
echo "== the column pass of one target over every source cell: vector lanes against the scalar path (one thread)"
OMP_NUM_THREADS=1 "$bin/qvbench" --benchmark_filter='TargetColumns' --benchmark_counters_tabular=true || true

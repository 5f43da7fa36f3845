#!/usr/bin/env bash
# Builds the Release configuration, writes the synthetic example data set beside
# the binary, and runs the example model in a fresh folder example-run/.
set -euo pipefail
cd "$(dirname "$0")"
bash scripts/install_deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQV_TESTS=OFF -DQV_BENCH=OFF >/dev/null
cmake --build build/release -j"$(nproc)" --target quelvo qvgen
bin="$PWD/build/release/bin"
rm -rf example-run
mkdir example-run
"$bin/qvgen" --data "$bin" --model example-run
cp examples/example.par example-run/
cd example-run
"$bin/quelvo" example
echo
echo "Example model done. Outputs are in $PWD:"
ls -1 "$PWD"

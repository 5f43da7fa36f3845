#!/usr/bin/env bash
# Installs what the build needs when it is missing (Debian). Arguments: "test"
# also asks for GoogleTest and Google Benchmark.
set -euo pipefail
need=()
command -v cmake >/dev/null 2>&1 || need+=(cmake)
command -v g++ >/dev/null 2>&1 || need+=(g++)
command -v ninja >/dev/null 2>&1 || need+=(ninja-build)
command -v python3 >/dev/null 2>&1 || need+=(python3)
if [ "${1:-}" = "test" ]; then
  [ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
  [ -f /usr/include/benchmark/benchmark.h ] || need+=(libbenchmark-dev)
fi
if [ ${#need[@]} -gt 0 ]; then
  echo "Installing: ${need[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${need[@]}"
fi

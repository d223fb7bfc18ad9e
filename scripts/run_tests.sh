#!/usr/bin/env bash
# Builds and runs every test: the Release build, the AddressSanitizer +
# UndefinedBehaviorSanitizer build, then the bounded fuzz runs.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$ROOT/scripts/install_deps.sh"
kolve_install_missing

JOBS="$(nproc)"

echo "== Release build and tests"
cmake -S "$ROOT" -B "$ROOT/build" -DCMAKE_BUILD_TYPE=Release
cmake --build "$ROOT/build" -j"$JOBS"
(cd "$ROOT/build" && ctest --output-on-failure -j"$JOBS")

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build and tests"
cmake -S "$ROOT" -B "$ROOT/build-asan" -DCMAKE_BUILD_TYPE=Release -DKOLVE_SANITIZE=ON \
  -DKOLVE_BENCH=OFF
cmake --build "$ROOT/build-asan" -j"$JOBS"
(cd "$ROOT/build-asan" && ctest --output-on-failure -j"$JOBS")

if [ -f "$ROOT/scripts/run_fuzz.sh" ]; then
  echo "== Fuzzing"
  bash "$ROOT/scripts/run_fuzz.sh"
fi
echo "All tests passed."

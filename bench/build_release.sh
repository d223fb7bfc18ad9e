# Sourced by the benchmark scripts: sets ROOT and BUILD (default: build) and
# builds the Release binary and the generator there.
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${BUILD:-$ROOT/build}"
cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD" --target kolve kolve_gen -j"$(nproc)" >/dev/null

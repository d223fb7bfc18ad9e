#!/usr/bin/env bash
# Builds the libFuzzer targets of the input readers with clang and runs each
# for a bounded time. Usage: scripts/run_fuzz.sh [build-dir]
# Exits non-zero when a target crashes or breaks a check.
set -euo pipefail

src="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$src/build-fuzz}"
targets=(fuzz_profile fuzz_geneset fuzz_newick)
seconds=15

CC=clang CXX=clang++ cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=Release \
  -DKOLVE_FUZZ=ON -DKOLVE_TESTS=OFF -DKOLVE_BENCH=OFF >/dev/null
cmake --build "$build" --target "${targets[@]}" -j "$(nproc)"

# Small valid inputs give the fuzzer a start inside the formats.
seed() {
  mkdir -p "$build/corpus/$1"
  printf '%b' "$2" >"$build/corpus/$1/seed_$3"
}
seed fuzz_profile 'ENTREZ\tSYMBOL\tsp1\tsp2\n10|11\tGA|ga2\t1\t0\n20\t\t1\t1\r\n' 1
seed fuzz_geneset 'GENE\tALL\nGA\tS1\n20|21\nga TAB\t S2\n30 40\n' 1
seed fuzz_newick '((A:0.1,B:0.2)x:0.3,(C, D):1e-1);\n' 1
seed fuzz_newick '(A,\n(B:x:2,C))r:0.5 ;' 2

for target in "${targets[@]}"; do
  echo "== $target (${seconds} s)"
  if ! "$build/$target" -max_total_time="$seconds" -max_len=4096 -close_fd_mask=3 \
      -artifact_prefix="$build/$target-" "$build/corpus/$target" 2>"$build/$target.log"; then
    tail -n 40 "$build/$target.log"
    echo "$target: FAILED (log: $build/$target.log)"
    exit 1
  fi
  tail -n 1 "$build/$target.log"
done
echo "fuzz: all targets passed"

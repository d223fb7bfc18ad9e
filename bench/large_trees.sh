#!/usr/bin/env bash
# Growth with the tree (not part of CI): 3,000 genes, a 300-gene set and chains
# of 10 sweeps (one try) on 500 and on 2,000 species, so that the cost per
# species can be compared; with --full also the 4,000-species, 10,000-gene run
# at default sampler settings (several minutes). Prints elapsed time and peak
# memory of each run. BUILD names the build directory (default: build).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/build_release.sh"

WORK="$(mktemp -d /tmp/kolve_large_XXXXXX)"
run() {
  local name="$1"
  shift
  "$BUILD/kolve_gen" --out "$WORK/$name" "$@" >/dev/null
  (cd "$WORK/$name" && /usr/bin/time -v "$BUILD/kolve" params.txt >console.txt 2>time.txt)
  echo "$name: elapsed (m:ss) $(grep -E 'Elapsed \(wall clock\)' "$WORK/$name/time.txt" | sed 's/.*: //')," \
    "peak $(grep 'Maximum resident set size' "$WORK/$name/time.txt" | sed 's/.*: //') kB"
}
for species in 500 2000; do
  run "species_$species" --seed 21 --species "$species" --genes 3000 --modules 10 --module-size 12 \
    --holdout 2 --set-size 300 --burnin 5 --mcmc 5 --tries 1
done
if [ "${1:-}" = "--full" ]; then
  run species_4000 --seed 22 --species 4000 --genes 10000 --modules 10 --module-size 12 \
    --holdout 2 --set-size 300 --burnin 600 --mcmc 400 --tries 5
fi
echo "Working directory: $WORK"

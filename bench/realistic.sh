#!/usr/bin/env bash
# Realistic single-tree run (not part of CI): a 20,000-gene x 138-species
# profile, a 300-gene set holding ten planted modules, default sampler settings
# (BURNIN 600, MCMC 400, TRIES 5) and a cold cache. Prints the elapsed time and
# the peak memory. BUILD names the build directory (default: build).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/build_release.sh"

WORK="$(mktemp -d /tmp/kolve_realistic_XXXXXX)"
"$BUILD/kolve_gen" --seed 1 --species 138 --genes 20000 --modules 10 --module-size 12 \
  --holdout 2 --set-size 300 --burnin 600 --mcmc 400 --tries 5 --out "$WORK"
cd "$WORK"
/usr/bin/time -v "$BUILD/kolve" params.txt >console.txt 2>time.txt
echo "Working directory: $WORK (console in console.txt, table in results.txt)"
grep -E "Elapsed \(wall clock\)|Maximum resident set size" time.txt

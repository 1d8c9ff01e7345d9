#!/usr/bin/env bash
# A bounded soak with a fixed seed: 1,500 randomized simulator runs (about a minute on 2 cores),
# each bounded by a timeout. Fails on a success over a stored image unlike the kit from a device
# within the latest answer time, a timeout, a crash or a missing key-press prompt.
set -euo pipefail
cd "$(dirname "$0")/.."
make build
python3 tools/soak.py --build build --runs "${SOAK_RUNS:-1500}" --seed "${SOAK_SEED:-20251210}" \
  --jobs 2 --timeout 30

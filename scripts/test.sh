#!/usr/bin/env bash
# Set-up, build and the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cd build
ctest --output-on-failure --timeout 300 -j"$(nproc 2>/dev/null || echo 2)"

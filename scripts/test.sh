#!/usr/bin/env bash
# Installs what the build needs (Debian packages), builds kelvara and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
build_kelvara build Release
ctest --test-dir build --output-on-failure -j"$(nproc)"

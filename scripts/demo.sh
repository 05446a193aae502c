#!/usr/bin/env bash
# Sets everything up, writes the example tree into a fresh temp directory and runs tessaro on it
# (the repository itself is never touched).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh build >/dev/null
tree=$(mktemp -d "${TMPDIR:-/tmp}/tessaro-demo-XXXXXX")
build/tessaro_example_tree "$tree"
echo "Example tree: $tree"
echo "\$ tessaro $tree"
status=0
build/tessaro "$tree" || status=$?
echo "(exit status $status: one group cannot be joined, as intended)"
echo "Mosaics written:"
find "$tree" -name '*.bmp' | sort

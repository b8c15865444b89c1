#!/usr/bin/env bash
# The demo: walks through the services with the programs of a build tree.
set -euo pipefail
build=${1:-build/release}
echo "qmrt demo: nothing to show yet in $build"

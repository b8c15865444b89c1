#!/usr/bin/env bash
# The demo: walks through the services with the programs of a build tree.
set -euo pipefail
build=${1:-build/release}
"$build/examples/tokens"

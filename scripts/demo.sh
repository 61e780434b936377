#!/usr/bin/env bash
# The main job: builds the three targets and runs the linux-x64 launcher
# with its debug log on.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
./build/linux/glimvane -D* hello "from the launcher"

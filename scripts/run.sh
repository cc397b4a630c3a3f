#!/usr/bin/env bash
# Starts the program from the build tree.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -x build/app/lumivar ]; then
  exec build/app/lumivar "$@"
fi
echo "The program is not built yet: there is nothing to start."

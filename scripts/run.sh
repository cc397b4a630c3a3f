#!/usr/bin/env bash
# Starts the program from the build tree.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -x build/app/lumivar ]; then
  exec build/app/lumivar "$@"
fi
echo "build/app/lumivar is missing: the build did not make the program." >&2
exit 1

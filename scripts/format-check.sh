#!/usr/bin/env bash
# Fails when a tracked C++ source is not formatted as .clang-format says. The files are
# checked in batches, as many at once as there are processors.
set -uo pipefail
cd "$(dirname "$0")/.."
mapfile -t bad < <(git ls-files -z '*.cpp' '*.h' |
  xargs -0 -r -n 16 -P "$(nproc)" sh -c '
    for f; do
      [ -f "$f" ] || continue
      clang-format --dry-run -Werror "$f" >/dev/null 2>&1 || printf "%s\n" "$f"
    done' sh | sort)
if [ ${#bad[@]} -gt 0 ]; then
  echo "Not formatted (run 'make format'):"
  printf '  %s\n' "${bad[@]}"
  exit 1
fi
echo "Formatting: all tracked sources formatted."

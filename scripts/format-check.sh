#!/usr/bin/env bash
# Fails when a tracked C++ source is not formatted as .clang-format says.
set -uo pipefail
cd "$(dirname "$0")/.."
bad=()
while IFS= read -r -d '' f; do
  [ -f "$f" ] || continue
  clang-format --dry-run -Werror "$f" >/dev/null 2>&1 || bad+=("$f")
done < <(git ls-files -z '*.cpp' '*.h')
if [ ${#bad[@]} -gt 0 ]; then
  echo "Not formatted (run 'make format'):"
  printf '  %s\n' "${bad[@]}"
  exit 1
fi
echo "Formatting: all tracked sources formatted."

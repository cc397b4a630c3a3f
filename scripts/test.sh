#!/usr/bin/env bash
# Everything `make test` does after the install step: the format check, the full build
# and every test, then the layers below the user interface again under AddressSanitizer
# with UndefinedBehaviorSanitizer, and the engine's tests under ThreadSanitizer. Every
# stage runs; the exit status is non-zero when any of them failed.
set -uo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
# Most test programs wait on servers, sockets, threads and the disk far more than they
# compute: twice as many run at once as there are processors.
test_jobs=$((2 * jobs))
# Line tables are all a failing test's backtrace needs; full debug information makes the
# three builds a fifth slower.
flags=(-G Ninja -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DCMAKE_CXX_FLAGS_DEBUG="-g1")
failed=()

stage() { printf '\n==== %s\n' "$*"; }

stage "format check"
bash scripts/format-check.sh || failed+=("format")

run_ctest() {
  local dir=$1; shift
  ctest --test-dir "$dir" --output-on-failure -j "$test_jobs" "$@"
}

stage "build (RelWithDebInfo)"
buildlog=$(mktemp)
if cmake -S . -B build "${flags[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null &&
   cmake --build build -j "$jobs" 2>&1 | tee "$buildlog" && [ "${PIPESTATUS[0]}" -eq 0 ]; then
  # The build stays warning-free.
  if grep -q 'warning:' "$buildlog"; then
    echo "The build printed warnings:"
    grep 'warning:' "$buildlog" | sort -u
    failed+=("warnings")
  fi
  stage "tests: unit and integration"
  run_ctest build -LE ui || failed+=("tests")
  if [ -n "$(ctest --test-dir build -N -L ui | grep -E '^\s+Test +#')" ]; then
    stage "tests: user interface"
    if [ -n "${DISPLAY:-}" ]; then
      ctest --test-dir build --output-on-failure -L ui || failed+=("ui tests")
    else
      xvfb-run -a -s "-screen 0 1280x1024x24" \
        ctest --test-dir build --output-on-failure -L ui || failed+=("ui tests")
    fi
  fi
else
  failed+=("build")
fi

stage "build and tests: AddressSanitizer + UndefinedBehaviorSanitizer"
if cmake -S . -B build-asan "${flags[@]}" -DCMAKE_BUILD_TYPE=Debug -DLUMIVAR_SANITIZE=address \
     -DLUMIVAR_WITH_UI=OFF >/dev/null &&
   cmake --build build-asan -j "$jobs"; then
  run_ctest build-asan -LE ui || failed+=("asan tests")
else
  failed+=("asan build")
fi

# The engine is where the threads are (polls, stops, actions, page writer, reports): its
# tests, which run the layers below it on those threads, are the ones built here.
stage "build and tests: ThreadSanitizer (engine)"
if cmake -S . -B build-tsan "${flags[@]}" -DCMAKE_BUILD_TYPE=Debug -DLUMIVAR_SANITIZE=thread \
     -DLUMIVAR_WITH_UI=OFF >/dev/null &&
   mapfile -t engine_tests < <(ctest --test-dir build-tsan -N -R '^engine_' |
     sed -nE 's/^ *Test +#[0-9]+: //p') &&
   [ ${#engine_tests[@]} -gt 0 ] &&
   cmake --build build-tsan -j "$jobs" --target "${engine_tests[@]}"; then
  run_ctest build-tsan -R '^engine_' || failed+=("tsan tests")
else
  failed+=("tsan build")
fi

echo
if [ ${#failed[@]} -gt 0 ]; then
  echo "make test: FAILED: ${failed[*]}"
  exit 1
fi
echo "make test: all stages passed."

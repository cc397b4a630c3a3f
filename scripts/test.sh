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

# The two sanitizer builds: the layers below the user interface with AddressSanitizer and
# UndefinedBehaviorSanitizer, and the engine's tests with ThreadSanitizer (the engine is where
# the threads are: polls, stops, actions, page writer, reports). Each writes its exit status
# to a file in the folder given.
sanitizer_builds() {
  local status=$1
  cmake -S . -B build-asan "${flags[@]}" -DCMAKE_BUILD_TYPE=Debug -DLUMIVAR_SANITIZE=address \
      -DLUMIVAR_WITH_UI=OFF >/dev/null &&
    cmake --build build-asan -j "$jobs"
  echo $? >"$status/asan"
  local engine_tests=()
  cmake -S . -B build-tsan "${flags[@]}" -DCMAKE_BUILD_TYPE=Debug -DLUMIVAR_SANITIZE=thread \
      -DLUMIVAR_WITH_UI=OFF >/dev/null &&
    mapfile -t engine_tests < <(ctest --test-dir build-tsan -N -R '^engine_' |
      sed -nE 's/^ *Test +#[0-9]+: //p') &&
    [ ${#engine_tests[@]} -gt 0 ] &&
    cmake --build build-tsan -j "$jobs" --target "${engine_tests[@]}"
  echo $? >"$status/tsan"
}

# The sanitizer builds compile in the background at the lowest priority from the end of the
# main build on: the tests meanwhile mostly wait (the user-interface tests run one at a time,
# on windows and on the program's own time bounds), so the builds take the processors only
# when the tests leave them idle.
start_sanitizer_builds() {
  (
    renice -n 19 -p "$BASHPID" >/dev/null 2>&1 || true
    sanitizer_builds "$sanitizer_status"
  ) >"$sanitizer_log" 2>&1 &
  sanitizers=$!
}

stage "build (RelWithDebInfo)"
buildlog=$(mktemp)
sanitizer_log=$(mktemp)
sanitizer_status=$(mktemp -d)
sanitizers=""
if cmake -S . -B build "${flags[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null &&
   cmake --build build -j "$jobs" 2>&1 | tee "$buildlog" && [ "${PIPESTATUS[0]}" -eq 0 ]; then
  start_sanitizer_builds
  # The build stays warning-free.
  if grep -q 'warning:' "$buildlog"; then
    echo "The build printed warnings:"
    grep 'warning:' "$buildlog" | sort -u
    failed+=("warnings")
  fi
  stage "tests: unit and integration (the sanitizer builds compile meanwhile)"
  run_ctest build -LE ui || failed+=("tests")
  if [ -n "$(ctest --test-dir build -N -L ui | grep -E '^\s+Test +#')" ]; then
    stage "tests: user interface (the sanitizer builds compile meanwhile)"
    if [ -n "${DISPLAY:-}" ]; then
      ctest --test-dir build --output-on-failure -L ui || failed+=("ui tests")
    else
      xvfb-run -a -s "-screen 0 1280x1024x24" \
        ctest --test-dir build --output-on-failure -L ui || failed+=("ui tests")
    fi
  fi
else
  failed+=("build")
  start_sanitizer_builds
fi

# The AddressSanitizer tests run as soon as their build is done, beside the ThreadSanitizer
# build.
while [ ! -e "$sanitizer_status/asan" ] && kill -0 "$sanitizers" 2>/dev/null; do sleep 1; done
stage "build and tests: AddressSanitizer + UndefinedBehaviorSanitizer"
if [ "$(cat "$sanitizer_status/asan" 2>/dev/null)" = 0 ]; then
  run_ctest build-asan -LE ui || failed+=("asan tests")
else
  cat "$sanitizer_log"
  failed+=("asan build")
fi

wait "$sanitizers"
stage "build and tests: ThreadSanitizer (engine)"
if [ "$(cat "$sanitizer_status/tsan" 2>/dev/null)" = 0 ]; then
  run_ctest build-tsan -R '^engine_' || failed+=("tsan tests")
else
  cat "$sanitizer_log"
  failed+=("tsan build")
fi

echo
if [ ${#failed[@]} -gt 0 ]; then
  echo "make test: FAILED: ${failed[*]}"
  exit 1
fi
echo "make test: all stages passed."

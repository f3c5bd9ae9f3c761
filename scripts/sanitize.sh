#!/usr/bin/env bash
# Builds and runs the test suites under the sanitizers:
#   build-asan/  AddressSanitizer + UndefinedBehaviorSanitizer, every suite;
#   build-tsan/  ThreadSanitizer, the suites that exercise concurrency.
# Every process writes its sanitizer reports to <build>/sanitizer-reports/,
# the server processes the end-to-end suites start included (their standard
# error is not seen by the tests); any report there fails the script, as does
# any failing test.
# The mixed load suite runs QUELVAR_LOAD_SECONDS of load (default here 5,
# against 20 in the plain build).
# Installs what it needs with apt-get when missing: the build's packages and
# the sanitizer runtimes of the compiler.
# Arguments pick the stages to run: "asan", "tsan" (default both).
# BUILD_LOCK=<file> serialises the configure and build steps with flock(1);
# JOBS sets the build and test parallelism (default 2).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
. ./scripts/compiler_cache.sh
./scripts/install_test_services.sh
./scripts/install_missing.sh libasan8 libubsan1 libtsan2
# The operator panel's browser tests: Chromium, its driver and Selenium.
./scripts/install_missing.sh chromium chromium-driver python3-selenium

jobs="${JOBS:-2}"
stages=("$@")
((${#stages[@]})) || stages=(asan tsan)

# Suites and tests that run threads or concurrent requests (ctest -R).
tsan_tests='Concurren|Parallel|Threads|WriterLock|ConnectionPool|LongRead|SharedText|HeadlessConsole|EventServiceTest|ListenerTest|SingleInstance|DuringRestores|LoadAndCrash|MixedLoad|Replication|RecentLog'
export QUELVAR_LOAD_SECONDS="${QUELVAR_LOAD_SECONDS:-5}"
# Half-open connections held by the connection-cap test (4,300 otherwise).
export QUELVAR_HALF_OPEN="${QUELVAR_HALF_OPEN:-800}"
# Kills of the replica crash table (24 in the plain build).
export QUELVAR_REPLICA_KILLS="${QUELVAR_REPLICA_KILLS:-6}"

locked() {
  if [[ -n "${BUILD_LOCK:-}" ]]; then flock "$BUILD_LOCK" "$@"; else "$@"; fi
}

configure_and_build() {
  local dir="$1"; shift
  locked cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUELVAR_BENCH=OFF -DQUELVAR_TESTS=ON \
    -DQUELVAR_GUI=OFF "$@" >/dev/null
  locked cmake --build "$dir" -j"$jobs"
}

# Fails when the run left any sanitizer report, printing them.
check_reports() {
  local dir="$1"
  if compgen -G "$dir/*" >/dev/null; then
    echo "sanitize.sh: sanitizer reports in $dir:" >&2
    cat "$dir"/* >&2
    exit 1
  fi
}

for stage in "${stages[@]}"; do
  start=$SECONDS
  case "$stage" in
    asan)
      configure_and_build build-asan -DQUELVAR_SANITIZE=ON -DQUELVAR_TSAN=OFF
      built=$SECONDS
      reports="$PWD/build-asan/sanitizer-reports"
      rm -rf "$reports" && mkdir -p "$reports"
      ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1}:log_path=$reports/asan" \
      UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}:log_path=$reports/ubsan" \
        ctest --test-dir build-asan --output-on-failure -j"$jobs"
      check_reports "$reports"
      ;;
    tsan)
      configure_and_build build-tsan -DQUELVAR_TSAN=ON -DQUELVAR_SANITIZE=OFF
      built=$SECONDS
      reports="$PWD/build-tsan/sanitizer-reports"
      rm -rf "$reports" && mkdir -p "$reports"
      TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}:log_path=$reports/tsan" \
        ctest --test-dir build-tsan --output-on-failure -j"$jobs" -R "$tsan_tests"
      check_reports "$reports"
      ;;
    *) echo "sanitize.sh: unknown stage '$stage' (asan, tsan)" >&2; exit 2 ;;
  esac
  echo "sanitize.sh: $stage passed (build $((built - start))s, tests $((SECONDS - built))s)"
done

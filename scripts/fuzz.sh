#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz/ and runs each one
# for FUZZ_SECONDS (default 60) on a working copy of its seed corpus.
# Installs what it needs with apt-get when missing: the build's packages,
# clang and its sanitizer and libFuzzer runtimes.
# Exits non-zero when any target reports a finding (crash, sanitizer report,
# leak, timeout); the reproducer is kept under build-fuzz/artifacts/<target>/.
# BUILD_LOCK=<file> serialises the configure and build steps with flock(1);
# JOBS sets the build parallelism (default 2).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
. ./scripts/compiler_cache.sh
./scripts/install_missing.sh clang libclang-rt-14-dev

seconds="${FUZZ_SECONDS:-60}"
jobs="${JOBS:-2}"
build=build-fuzz
targets=(multipart_reader_fuzz event_service_fuzz json_text_fuzz param_json_fuzz dataset_reader_fuzz param_block_fuzz update_info_fuzz replica_object_fuzz)

locked() {
  if [[ -n "${BUILD_LOCK:-}" ]]; then flock "$BUILD_LOCK" "$@"; else "$@"; fi
}

CC=clang CXX=clang++ locked cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUELVAR_FUZZ=ON -DQUELVAR_TESTS=OFF -DQUELVAR_BENCH=OFF -DQUELVAR_GUI=OFF >/dev/null
locked cmake --build "$build" -j"$jobs" --target "${targets[@]}"

failed=()
for target in "${targets[@]}"; do
  work="$build/corpus/$target"
  artifacts="$build/artifacts/$target"
  mkdir -p "$work" "$artifacts"
  if [[ -d "fuzz/corpus/$target" ]]; then cp -n "fuzz/corpus/$target"/* "$work"/ 2>/dev/null || true; fi
  echo "== $target (${seconds}s)"
  if ! "$build/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="$artifacts/" -print_final_stats=1 "$work" >"$build/$target.log" 2>&1; then
    echo "!! $target reported a finding; see $build/$target.log and $artifacts/" >&2
    tail -n 40 "$build/$target.log" >&2
    failed+=("$target")
  else
    grep -E '^stat::number_of_executed_units|^Done' "$build/$target.log" || true
  fi
done

if ((${#failed[@]})); then
  echo "fuzz.sh: findings in: ${failed[*]}" >&2
  exit 1
fi
echo "fuzz.sh: no findings"
